/*
 * sleeper.exe MILLISECONDS: a running program that holds its own file for as
 * long as it is told, for the tests of files in use.
 */
#include <windows.h>

#include <stdlib.h>

int main(int argc, char **argv)
{
    Sleep(argc > 1 ? (DWORD)atol(argv[1]) : 60000);
    return 0;
}
