/*
 * Any bytes as a removal log: read into records and lines, every check run,
 * the findings printed. Nothing may read past the bytes or crash; the
 * sanitizers judge, the output goes nowhere.
 */
#include "logcheck/logcheck.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    /* Exactly the input, no terminator after it: reading past it is a fault. */
    char *bytes = (char *)malloc(size == 0 ? 1 : size);
    if (bytes == NULL)
        return 0;
    memcpy(bytes, data, size);
    static FILE *sink = fopen("/dev/null", "w");

    LogText log;
    if (ParseLog(&log, "fuzz.log", bytes, size)) {
        Findings findings;
        memset(&findings, 0, sizeof findings);
        CheckOptions options = {NULL};
        CheckLog(&log, &options, &findings);
        PrintFindings(sink, &log, &findings);
        FreeFindings(&findings);
        /* With a given uninstaller path too, and read as code page 932, where
           a lead byte takes the byte after it: nothing may step past the end. */
        memset(&findings, 0, sizeof findings);
        options.uninstaller = "C:\\Program Files\\Brenhow\\Vorblend\\uninstall.exe";
        log.leadBytes = LeadBytesOfCodePage(932);
        CheckLog(&log, &options, &findings);
        PrintFindings(sink, &log, &findings);
        FreeFindings(&findings);
    }
    FreeLog(&log);
    free(bytes);
    return 0;
}
