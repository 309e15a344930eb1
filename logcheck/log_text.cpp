/*
 * The log as the checker holds it: the bytes as read, the records where the
 * uninstaller's own reading finds them, and where each line begins, so that a
 * finding can name its line and column as an editor counts them.
 */
#include "logcheck/logcheck.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

static bool ReadStream(FILE *stream, char **bytes, size_t *size)
{
    size_t capacity = 1 << 16, used = 0;
    char *block = (char *)malloc(capacity + 1);
    while (block != NULL) {
        size_t read = fread(block + used, 1, capacity - used, stream);
        used += read;
        if (used < capacity)
            break;
        char *grown = (char *)realloc(block, capacity * 2 + 1);
        if (grown == NULL) {
            free(block);
            block = NULL;
            break;
        }
        block = grown;
        capacity *= 2;
    }
    if (block == NULL)
        return false;
    block[used] = '\0';
    *bytes = block;
    *size = used;
    return !ferror(stream);
}

bool ReadLogFile(const char *path, char **bytes, size_t *size, char *reason, size_t reasonSize)
{
    *bytes = NULL;
    *size = 0;
    FILE *stream = stdin;
    if (strcmp(path, "-") == 0) {
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY); /* a 0x1A byte is a separator, not an end */
#endif
    } else {
        errno = 0;
        stream = fopen(path, "rb");
        if (stream == NULL) {
            snprintf(reason, reasonSize, "%s", strerror(errno != 0 ? errno : ENOENT));
            return false;
        }
    }
    errno = 0;
    bool read = ReadStream(stream, bytes, size);
    int error = errno;
    if (stream != stdin)
        fclose(stream);
    if (!read) {
        free(*bytes);
        *bytes = NULL;
        snprintf(reason, reasonSize, "%s", strerror(error != 0 ? error : EIO));
        return false;
    }
    return true;
}

/* Grows an array of n-byte items to hold one more; false when memory runs out. */
static bool Reserve(void **items, size_t itemSize, size_t count, size_t *capacity)
{
    if (count < *capacity)
        return true;
    size_t grown = *capacity == 0 ? 256 : *capacity * 2;
    void *block = realloc(*items, grown * itemSize);
    if (block == NULL)
        return false;
    *items = block;
    *capacity = grown;
    return true;
}

bool ParseLog(LogText *log, const char *name, const char *bytes, size_t size)
{
    memset(log, 0, sizeof *log);
    log->name = name;
    log->bytes = bytes;
    log->size = size;

    size_t lineCapacity = 0;
    if (!Reserve((void **)&log->lineStarts, sizeof(size_t), 0, &lineCapacity))
        return false;
    log->lineStarts[log->lineCount++] = 0;
    for (size_t at = 0; at < size; at++) {
        bool end = bytes[at] == '\n' || (bytes[at] == '\r' && (at + 1 >= size || bytes[at + 1] != '\n'));
        if (!end)
            continue;
        if (!Reserve((void **)&log->lineStarts, sizeof(size_t), log->lineCount, &lineCapacity))
            return false;
        log->lineStarts[log->lineCount++] = at + 1;
    }

    size_t recordCapacity = 0, at = 0, start, length;
    while (NextRecord(bytes, size, &at, &start, &length)) {
        if (!Reserve((void **)&log->records, sizeof(LogRecord), log->recordCount, &recordCapacity))
            return false;
        LogRecord *record = &log->records[log->recordCount++];
        record->start = start;
        record->length = length;
        record->kind = RecordKindOf(bytes + start, length, &record->argument);
    }
    return true;
}

void FreeLog(LogText *log)
{
    free(log->records);
    free(log->lineStarts);
    log->records = NULL;
    log->lineStarts = NULL;
    log->recordCount = log->lineCount = 0;
}

void LineAndColumn(const LogText *log, size_t offset, size_t *line, size_t *column)
{
    /* The last line that starts at or before the offset. */
    size_t low = 0, high = log->lineCount;
    while (high - low > 1) {
        size_t middle = low + (high - low) / 2;
        if (log->lineStarts[middle] <= offset)
            low = middle;
        else
            high = middle;
    }
    *line = low + 1;
    *column = offset - log->lineStarts[low] + 1;
}

const char *RecordArgument(const LogText *log, const LogRecord *record, char *buffer, size_t size)
{
    size_t length = record->length - record->argument;
    if (length >= size)
        length = size - 1;
    memcpy(buffer, log->bytes + record->start + record->argument, length);
    buffer[length] = '\0';
    return buffer;
}
