/* Off Windows there is no live file system or registry of the uninstaller's to preview. */
#include "logcheck/logcheck.h"

int PreviewOnSystem(const LogText *, const CheckOptions *, FILE *)
{
    fprintf(stderr, "logcheck: --system previews a Windows machine; use logcheck.exe there\n");
    return 2;
}

const unsigned char *SystemLeadBytes() { return NULL; }
