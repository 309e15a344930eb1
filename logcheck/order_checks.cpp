/*
 * Order and repeats over the whole log, in one pass in file order. Every path
 * and registry item becomes a folded key (ASCII upper case, one backslash per
 * separator run, none at the end; registry roots by what they name). A hash
 * map holds each key once; a record looks up each of its ancestors, whose
 * hashes fall out of hashing its own key byte by byte, so the cost is linear
 * in the bytes of the log and never compares every record with every other.
 * Last, whether anything but the clean-up copy's paths follows the log's own
 * record.
 */
#include "logcheck/logcheck.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static const size_t NONE = (size_t)-1;
/* Registry keys longer than this hold no real product's settings; such items
   are left out of the comparison, which keeps every record's cost bounded. */
static const size_t LONGEST_REGISTRY_ITEM = 2048;
/* Between a registry key and a value name in a folded key: no record holds it. */
static const char VALUE_MARK = '\x1F';

struct Slot {
    const char *key; /* null: the slot is free */
    size_t length;
    uint64_t hash;
    size_t first;       /* first record naming exactly this */
    size_t firstTree;   /* first dirw: that removes this tree */
    size_t pendingHead; /* dir: or key records not yet followed by anything inside */
    size_t pendingTail;
    size_t deferredHead; /* deferred dir: records not yet followed by a deferred record inside */
    size_t deferredTail;
};

struct KeyMap {
    Slot *slots;
    size_t mask;
    char *arena; /* the keys of the slots, one after another */
    size_t arenaUsed;
};

/* A key as it is built: the text, and where each ancestor ends with its hash. */
struct FoldedKey {
    char *text;
    size_t length;
    uint64_t hash;
    size_t *ancestorEnds;
    uint64_t *ancestorHashes;
    size_t ancestors;
    size_t separators; /* separators that end the text so far */
};

static const uint64_t FNV_OFFSET = 14695981039346656037ull;
static const uint64_t FNV_PRIME = 1099511628211ull;

static char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c; }

/* separator: c is a backslash character, not the second byte of one. */
static void Append(FoldedKey *key, char c, bool separator)
{
    /* A backslash ends an ancestor: the hash so far is the ancestor's. */
    if (separator && key->length > 0 && key->separators == 0) {
        key->ancestorEnds[key->ancestors] = key->length;
        key->ancestorHashes[key->ancestors] = key->hash;
        key->ancestors++;
    }
    key->separators = separator ? key->separators + 1 : 0;
    key->text[key->length++] = c;
    key->hash = (key->hash ^ (unsigned char)c) * FNV_PRIME;
}

/* Folds text by characters: ASCII letters to upper case, second bytes as they are. */
static void AppendFolded(FoldedKey *key, const char *text, size_t length,
                         const unsigned char *leadBytes)
{
    for (size_t at = 0; at < length;) {
        if (CharLength(text, at, length, leadBytes) == 2) {
            Append(key, text[at], false);
            Append(key, text[at + 1], false);
            at += 2;
        } else {
            Append(key, AsciiUpper(text[at]), text[at] == '\\');
            at++;
        }
    }
}

static void Restart(FoldedKey *key)
{
    key->length = 0;
    key->hash = FNV_OFFSET;
    key->ancestors = 0;
    key->separators = 0;
}

static uint64_t HashOf(const char *text, size_t length)
{
    uint64_t hash = FNV_OFFSET;
    for (size_t i = 0; i < length; i++)
        hash = (hash ^ (unsigned char)text[i]) * FNV_PRIME;
    return hash;
}

/* A path: "/" is a backslash, runs fold to one (a share's leading pair stays),
   no separator at the end. */
static void FoldPath(FoldedKey *key, const char *path, size_t length,
                     const unsigned char *leadBytes)
{
    Restart(key);
    for (size_t i = 0; i < length;) {
        if (CharLength(path, i, length, leadBytes) == 2) {
            AppendFolded(key, path + i, 2, leadBytes);
            i += 2;
            continue;
        }
        char c = path[i] == '/' ? '\\' : path[i];
        i++;
        if (c == '\\' && key->length >= 2 && key->separators > 0)
            continue;
        AppendFolded(key, &c, 1, NULL);
    }
    key->length -= key->separators;
    key->hash = HashOf(key->text, key->length);
    while (key->ancestors > 0 && key->ancestorEnds[key->ancestors - 1] >= key->length)
        key->ancestors--;
}

/* A registry item: the root as one byte, the key path; its ancestors are the
   keys above that path, never the key itself (its own values go with it). */
static void FoldRegistryItem(FoldedKey *key, const char *item, const RegistryItemParts *parts,
                             const unsigned char *leadBytes)
{
    Restart(key);
    Append(key, (char)RegistryRootFromName(item, parts->rootLength), false);
    AppendFolded(key, item + parts->keyPath, parts->keyPathLength, leadBytes);
    if (parts->valueNameLength > 0) {
        Append(key, VALUE_MARK, false);
        AppendFolded(key, item + parts->valueName, parts->valueNameLength, leadBytes);
    }
}

/* The slot of a key; with `add`, a free slot becomes the key's. Null when the
   key is absent and not to be added. */
static Slot *Lookup(KeyMap *map, const char *text, size_t length, uint64_t hash, bool add)
{
    for (size_t at = (size_t)hash & map->mask;; at = (at + 1) & map->mask) {
        Slot *slot = &map->slots[at];
        if (slot->key == NULL) {
            if (!add)
                return NULL;
            memcpy(map->arena + map->arenaUsed, text, length);
            slot->key = map->arena + map->arenaUsed;
            map->arenaUsed += length;
            slot->length = length;
            slot->hash = hash;
            slot->first = slot->firstTree = slot->pendingHead = slot->pendingTail = NONE;
            slot->deferredHead = slot->deferredTail = NONE;
            return slot;
        }
        if (slot->hash == hash && slot->length == length && memcmp(slot->key, text, length) == 0)
            return slot;
    }
}

static size_t LineOf(const LogText *log, size_t record)
{
    size_t line, column;
    LineAndColumn(log, log->records[record].start, &line, &column);
    return line;
}

void CheckOrderAndRepeats(const LogText *log, const RecordFacts *facts, Findings *findings)
{
    size_t compared = 0;
    for (size_t i = 0; i < log->recordCount; i++)
        compared += facts[i].path || facts[i].registry ? 1 : 0;
    if (compared == 0)
        return;
    size_t capacity = 16;
    while (capacity < compared * 2)
        capacity *= 2;

    KeyMap map = {NULL, capacity - 1, NULL, 0};
    FoldedKey key = {NULL, 0, 0, NULL, NULL, 0, 0};
    const size_t KEY_SIZE = LONGEST_REGISTRY_ITEM + 2;
    map.slots = (Slot *)calloc(capacity, sizeof(Slot));
    map.arena = (char *)malloc(log->size + 2 * log->recordCount);
    key.text = (char *)malloc(KEY_SIZE);
    key.ancestorEnds = (size_t *)malloc(KEY_SIZE * sizeof(size_t));
    key.ancestorHashes = (uint64_t *)malloc(KEY_SIZE * sizeof(uint64_t));
    size_t *nextPending = (size_t *)malloc(log->recordCount * sizeof(size_t));
    size_t *firstInside = (size_t *)malloc(log->recordCount * sizeof(size_t));
    if (map.slots == NULL || map.arena == NULL || key.text == NULL || key.ancestorEnds == NULL ||
        key.ancestorHashes == NULL || nextPending == NULL || firstInside == NULL)
        goto done; /* out of memory: these checks are left out, nothing else */

    for (size_t r = 0; r < log->recordCount; r++) {
        const LogRecord *record = &log->records[r];
        const char *argument = log->bytes + record->start + record->argument;
        size_t length = record->length - record->argument;
        size_t argumentStart = record->start + record->argument;
        nextPending[r] = firstInside[r] = NONE;
        bool keyItem = false;
        if (facts[r].path) {
            FoldPath(&key, argument, length, log->leadBytes);
            if (key.length == 0)
                continue;
        } else if (facts[r].registry && length <= LONGEST_REGISTRY_ITEM) {
            RegistryItemParts parts;
            SplitRegistryItem(argument, length, &parts, log->leadBytes);
            FoldRegistryItem(&key, argument, &parts, log->leadBytes);
            keyItem = parts.valueNameLength == 0;
        } else {
            continue;
        }

        bool insideReported = false;
        for (size_t a = 0; a < key.ancestors; a++) {
            Slot *above = Lookup(&map, key.text, key.ancestorEnds[a], key.ancestorHashes[a], false);
            if (above == NULL)
                continue;
            if (above->firstTree != NONE && !insideReported) {
                AddFinding(findings, argumentStart, SEVERITY_WARNING, "inside-removed-tree",
                           "lies inside the tree that the dirw: of line %lu already removed: "
                           "this record finds nothing left",
                           (unsigned long)LineOf(log, above->firstTree));
                insideReported = true;
            }
            for (size_t d = above->pendingHead; d != NONE; d = nextPending[d])
                firstInside[d] = r;
            above->pendingHead = above->pendingTail = NONE;
            /* Only the clean-up copy's own later paths are still there at a
               deferred folder's turn; everything else went before the copy ran. */
            if (facts[r].deferred) {
                for (size_t d = above->deferredHead; d != NONE; d = nextPending[d])
                    firstInside[d] = r;
                above->deferredHead = above->deferredTail = NONE;
            }
        }

        Slot *own = Lookup(&map, key.text, key.length, key.hash, true);
        if (own->first != NONE)
            AddFinding(findings, argumentStart, SEVERITY_WARNING, "repeated-path",
                       "names the same %s as line %lu: this record finds nothing left",
                       facts[r].registry ? "registry item" : "path",
                       (unsigned long)LineOf(log, own->first));
        else
            own->first = r;
        if (facts[r].treeRemoved && own->firstTree == NONE)
            own->firstTree = r;
        if (facts[r].dirPending || keyItem) {
            if (own->pendingHead == NONE)
                own->pendingHead = r;
            else
                nextPending[own->pendingTail] = r;
            own->pendingTail = r;
        } else if (facts[r].deferred && record->kind == RECORD_DIR) {
            if (own->deferredHead == NONE)
                own->deferredHead = r;
            else
                nextPending[own->deferredTail] = r;
            own->deferredTail = r;
        }
    }

    for (size_t d = 0; d < log->recordCount; d++) {
        if (firstInside[d] == NONE)
            continue;
        if (log->records[d].kind == RECORD_DIR)
            AddFinding(findings, log->records[d].start, SEVERITY_WARNING, "dir-before-contents",
                       "the folder is removed before line %lu names something inside it: at its "
                       "turn it is not empty, and it stays",
                       (unsigned long)LineOf(log, firstInside[d]));
        else
            AddFinding(findings, log->records[d].start, SEVERITY_WARNING, "key-before-subkeys",
                       "the key is deleted before line %lu names an item in a subkey of it: a key "
                       "with subkeys left is not deleted (its own values would go with it)",
                       (unsigned long)LineOf(log, firstInside[d]));
    }

done:
    free(map.slots);
    free(map.arena);
    free(key.text);
    free(key.ancestorEnds);
    free(key.ancestorHashes);
    free(nextPending);
    free(firstInside);
}

/* Where the file name of the text starts: after its last '\\' or '/'. */
static size_t FileNameStart(const char *text, size_t length, const unsigned char *leadBytes)
{
    size_t name = 0;
    for (size_t at = 0; at < length; at += CharLength(text, at, length, leadBytes)) {
        if (text[at] == '\\' || text[at] == '/')
            name = at + 1;
    }
    return name;
}

/* The log's own file: record: the last one whose file name is the log's, as
   the command line gives it (a log checked on a build machine lies elsewhere
   than on the machines it is for). recordCount when none names it. */
static size_t OwnRecord(const LogText *log)
{
    size_t nameLength = strlen(log->name);
    size_t nameStart = FileNameStart(log->name, nameLength, log->leadBytes);
    const char *name = log->name + nameStart;
    nameLength -= nameStart;
    size_t own = log->recordCount;
    if (nameLength == 0 || strcmp(log->name, "<stdin>") == 0)
        return own;
    for (size_t i = 0; i < log->recordCount; i++) {
        const LogRecord *record = &log->records[i];
        if (record->kind != RECORD_FILE)
            continue;
        const char *path = log->bytes + record->start + record->argument;
        size_t length = record->length - record->argument;
        size_t start = FileNameStart(path, length, log->leadBytes);
        if (length - start == nameLength &&
            EqualIgnoringAsciiCase(path + start, name, nameLength, log->leadBytes))
            own = i;
    }
    return own;
}

/* Once the log is gone, a rerun ends with 1605 and removes nothing: whatever a
   stopped run had not reached by then stays. Only the clean-up copy's paths,
   which the run never removes itself, may follow the log's own record. */
void CheckOwnRecordLast(const LogText *log, const RecordFacts *facts, Findings *findings)
{
    size_t own = OwnRecord(log);
    for (size_t r = own + 1; r < log->recordCount; r++) {
        if (log->records[r].kind == RECORD_NONE || facts[r].deferred)
            continue;
        AddFinding(findings, log->records[own].start, SEVERITY_WARNING, "log-not-last",
                   "the log removes itself before line %lu: a run stopped between the two cannot "
                   "be repeated (the rerun finds no log and answers 1605); put the log's own "
                   "record last, followed only by the clean-up copy's paths",
                   (unsigned long)LineOf(log, r));
        return;
    }
}
