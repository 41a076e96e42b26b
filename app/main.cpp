#include "app/tavrinapp.h"
#include "res/resource.h"

CTavrinApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv, &g_tavrinResources);
}
