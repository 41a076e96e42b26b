// The leading decimal integer of a text, read the way atoi reads it: leading
// white space skipped, an optional sign, then digits up to the first other
// byte; no digits give 0. Unlike atoi, a number beyond the range of int is not
// undefined: it saturates at INT_MAX or INT_MIN.
#pragma once

int LeadingInt(const char* text);
