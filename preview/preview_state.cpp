/*
 * What the preview remembers while it walks the log: the paths, keys and
 * values that earlier records remove (sets keyed as the system compares names,
 * case aside), the paths deferred to the clean-up copy, and one line or more
 * per record. The preview owns every block here and frees it at the end.
 */
#include "preview/preview.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

/* The long form of a path, where the code page can spell it: a long name
   with no form there comes back as '?' or a look-alike of another entry, and
   the path then keeps the short spelling that the tree walk joined. */
static void SpelledLongForm(char *path)
{
    WCHAR wide[MAX_PATH], longer[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0)
        return;
    DWORD length = GetLongPathNameW(wide, longer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    char narrow[MAX_PATH];
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, longer, -1, narrow,
                                    sizeof narrow, NULL, &lossy);
    if (bytes > 0 && !lossy)
        memcpy(path, narrow, bytes);
}

void PathKey(const char *path, char *key, size_t size)
{
    char full[MAX_PATH];
    /* The system's own reading of the path: "/" for "\", no trailing dots. */
    DWORD length = GetFullPathNameA(path, sizeof full, full, NULL);
    if (length == 0 || length >= sizeof full)
        snprintf(full, sizeof full, "%s", path);
    /* Short 8.3 spellings name the same entry as the long ones; only they hold
       a tilde, and the lookup costs a search per component. */
    if (strchr(full, '~') != NULL)
        SpelledLongForm(full);
    length = (DWORD)strlen(full);
    while (length > 3 && EndsInChar(full, length, '\\', AnsiLeadBytes()))
        full[--length] = '\0';
    if (LCMapStringA(LOCALE_INVARIANT, LCMAP_UPPERCASE, full, -1, key, (int)size) == 0)
        snprintf(key, size, "%s", full);
}

static size_t HashOf(const char *key)
{
    size_t hash = 14695981039346656037ull;
    for (; *key != '\0'; key++)
        hash = (hash ^ (unsigned char)*key) * 1099511628211ull;
    return hash;
}

static bool Grow(NameSet *set)
{
    size_t capacity = set->capacity == 0 ? 256 : set->capacity * 2;
    char **slots = (char **)calloc(capacity, sizeof(char *));
    if (slots == NULL)
        return false;
    for (size_t i = 0; i < set->capacity; i++) {
        if (set->slots[i] == NULL)
            continue;
        size_t at = HashOf(set->slots[i]) & (capacity - 1);
        while (slots[at] != NULL)
            at = (at + 1) & (capacity - 1);
        slots[at] = set->slots[i];
    }
    free(set->slots);
    set->slots = slots;
    set->capacity = capacity;
    return true;
}

bool NameSetHas(const NameSet *set, const char *key)
{
    if (set->capacity == 0)
        return false;
    for (size_t at = HashOf(key) & (set->capacity - 1); set->slots[at] != NULL;
         at = (at + 1) & (set->capacity - 1)) {
        if (strcmp(set->slots[at], key) == 0)
            return true;
    }
    return false;
}

bool NameSetAdd(NameSet *set, const char *key)
{
    if (NameSetHas(set, key))
        return true;
    if ((set->count + 1) * 2 > set->capacity && !Grow(set))
        return false;
    char *copy = (char *)malloc(strlen(key) + 1);
    if (copy == NULL)
        return false;
    strcpy(copy, key);
    size_t at = HashOf(key) & (set->capacity - 1);
    while (set->slots[at] != NULL)
        at = (at + 1) & (set->capacity - 1);
    set->slots[at] = copy;
    set->count++;
    return true;
}

bool NameSetHasOrAbove(const NameSet *set, char *key, size_t from)
{
    if (NameSetHas(set, key))
        return true;
    size_t length = strlen(key);
    for (size_t at = 0; at < length;) {
        size_t n = CharLength(key, at, length, AnsiLeadBytes());
        if (n == 1 && key[at] == '\\' && at >= from) {
            key[at] = '\0';
            bool found = NameSetHas(set, key);
            key[at] = '\\';
            if (found)
                return true;
        }
        at += n;
    }
    return false;
}

void FreeNameSet(NameSet *set)
{
    for (size_t i = 0; i < set->capacity; i++)
        free(set->slots[i]);
    free(set->slots);
    memset(set, 0, sizeof *set);
}

void AddLine(Preview *preview, size_t record, Outcome outcome, const char *format, ...)
{
    if (preview->lineCount == preview->lineCapacity) {
        size_t grown = preview->lineCapacity == 0 ? 64 : preview->lineCapacity * 2;
        PreviewLine *lines = (PreviewLine *)realloc(preview->lines, grown * sizeof(PreviewLine));
        if (lines == NULL)
            return;
        preview->lines = lines;
        preview->lineCapacity = grown;
    }
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    char *message = (char *)malloc(strlen(text) + 1);
    if (message == NULL)
        return;
    strcpy(message, text);
    PreviewLine *line = &preview->lines[preview->lineCount++];
    line->record = record;
    line->sequence = preview->lineCount - 1;
    line->outcome = outcome;
    line->message = message;
}

/* Appends a copy of path, with the record that named it, to a pair of
   growing lists; a failed allocation leaves both lists as they were. */
static void AppendRecordPath(char ***paths, size_t **records, size_t *count, size_t *capacity,
                             size_t record, const char *path)
{
    if (*count == *capacity) {
        size_t grown = *capacity == 0 ? 8 : *capacity * 2;
        char **grownPaths = (char **)realloc(*paths, grown * sizeof(char *));
        if (grownPaths != NULL)
            *paths = grownPaths;
        size_t *grownRecords = (size_t *)realloc(*records, grown * sizeof(size_t));
        if (grownRecords != NULL)
            *records = grownRecords;
        if (grownPaths == NULL || grownRecords == NULL)
            return;
        *capacity = grown;
    }
    char *copy = (char *)malloc(strlen(path) + 1);
    if (copy == NULL)
        return;
    strcpy(copy, path);
    (*records)[*count] = record;
    (*paths)[(*count)++] = copy;
}

void NoteOpenFolder(Preview *preview, size_t record, const char *path)
{
    AppendRecordPath(&preview->openFolders, &preview->openRecord, &preview->openCount,
                     &preview->openCapacity, record, path);
}

void Defer(Preview *preview, size_t record, const char *path)
{
    AppendRecordPath(&preview->deferred, &preview->deferredRecord, &preview->deferredCount,
                     &preview->deferredCapacity, record, path);
}

bool IsGone(const Preview *preview, const char *path)
{
    char key[MAX_PATH];
    PathKey(path, key, sizeof key);
    /* A folder above it that went as a link: what showed through it is gone too. */
    return NameSetHasOrAbove(&preview->gonePaths, key, 3);
}

void MarkGone(Preview *preview, const char *path)
{
    char key[MAX_PATH];
    PathKey(path, key, sizeof key);
    NameSetAdd(&preview->gonePaths, key);
}

void MarkAtRestart(Preview *preview, const char *path, const RestartPlan *plan)
{
    MarkGone(preview, path);
    if (plan->way != RESTART_IN_PLACE)
        return; /* moved aside: the name is free at once */
    /* Its folder keeps it until the restart. */
    char key[MAX_PATH];
    PathKey(path, key, sizeof key);
    size_t at = FindLastChar(key, strlen(key), '\\', AnsiLeadBytes());
    if (at > 2 && key[at] == '\\') {
        key[at] = '\0';
        NameSetAdd(&preview->keepScheduled, key);
    }
}

bool KeepsScheduled(const Preview *preview, const char *folder)
{
    char key[MAX_PATH];
    PathKey(folder, key, sizeof key);
    return NameSetHas(&preview->keepScheduled, key);
}

size_t DescribeRemaining(const Preview *preview, const char *folder, char *text, size_t size)
{
    char pattern[MAX_PATH + 4];
    size_t length = strlen(folder);
    const char *separator = EndsInChar(folder, length, '\\', AnsiLeadBytes()) ? "" : "\\";
    snprintf(pattern, sizeof pattern, "%s%s*", folder, separator);
    text[0] = '\0';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    size_t count = 0, used = 0;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
            continue;
        char entry[MAX_PATH * 2];
        snprintf(entry, sizeof entry, "%s%s%s", folder, separator, found.cFileName);
        if (IsGone(preview, entry))
            continue;
        if (count < 3 && used < size) {
            int written = snprintf(text + used, size - used, "%s%s", count == 0 ? "" : ", ",
                                   found.cFileName);
            used += written > 0 ? (size_t)written : 0;
        }
        count++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    if (count > 3 && used < size)
        snprintf(text + used, size - used, " (and %lu more)", (unsigned long)(count - 3));
    return count;
}
