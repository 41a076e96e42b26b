// The console's own texts, as code page 936 bytes (texts.cpp is compiled to
// that code page). Each is what the window shows, blanks and punctuation
// included: full-width commas and colons where the user sees them, ASCII ones
// where the status texts use them.
#pragma once

// Status bar, part 0 at start-up and the fixed credit in part 3.
extern const char kTextStatusInit[];
extern const char kTextStatusCredit[];

// Counts in parts 1 and 2; the counters are 64-bit, hence %lld.
extern const char kTextSendCountFormat[];
extern const char kTextRecvCountFormat[];

// Open/close toggle captions, state label and status texts.
extern const char kTextOpenPort[];
extern const char kTextClosePort[];
extern const char kTextPortClosed[];
extern const char kTextPortClosedStatus[];
extern const char kTextPortOpenFailed[];
extern const char kTextPortOpenFailedStatus[];
extern const char kTextThreadFailed[];
extern const char kTextThreadFailedStatus[];
extern const char kTextPortOpenLabel[];      // followed by the settings text
extern const char kTextPortOpenStatus[];     // followed by the settings text

// Receive display.
extern const char kTextStopDisplay[];
extern const char kTextContinueDisplay[];
extern const char kTextLineLimitNotice[];

// Sending.
extern const char kTextPortNotOpen[];
extern const char kTextMessageCaption[];
extern const char kTextDefaultPeriod[];

// The five settings lists, top to bottom. The order is part of the meaning:
// the port number and parity come from an item's position.
inline constexpr int kPortItemCount = 4;
inline constexpr int kBaudItemCount = 8;
inline constexpr int kParityItemCount = 3;
inline constexpr int kDataBitsItemCount = 3;
inline constexpr int kStopBitsItemCount = 2;
extern const char* const kPortItems[kPortItemCount];
extern const char* const kBaudItems[kBaudItemCount];
extern const char* const kParityItems[kParityItemCount];
extern const char* const kDataBitsItems[kDataBitsItemCount];
extern const char* const kStopBitsItems[kStopBitsItemCount];

// Selections at start-up: COM1, 9600, NONE, 8, 1.
inline constexpr int kDefaultPortIndex = 0;
inline constexpr int kDefaultBaudIndex = 5;
inline constexpr int kDefaultParityIndex = 0;
inline constexpr int kDefaultDataBitsIndex = 0;
inline constexpr int kDefaultStopBitsIndex = 0;
