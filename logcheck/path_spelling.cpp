/*
 * Judgements of a spelling that only the checker makes: whether a path leans
 * on the current folder, where UTF-8 hides in a name, how to show arbitrary
 * bytes in a message, and which known name a misspelling was meant to be.
 * What the uninstaller itself decides stays in removal/records.h.
 */
#include "logcheck/logcheck.h"

#include <stdio.h>
#include <string.h>

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsFullyQualified(const char *path, size_t length)
{
    bool letter = length >= 1 && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
    if (letter && length >= 3 && path[1] == ':' && IsSeparator(path[2]))
        return true;
    return length >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

static bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

/* Bytes of the valid sequence starting at text[at], or 0: no overlong forms,
   no surrogates, nothing above U+10FFFF. */
static size_t Utf8SequenceLength(const unsigned char *text, size_t at, size_t length)
{
    unsigned char lead = text[at];
    size_t count;
    unsigned char low = 0x80, high = 0xBF; /* range of the second byte */
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (length - at < count || text[at + 1] < low || text[at + 1] > high)
        return 0;
    for (size_t i = 2; i < count; i++) {
        if (!IsContinuation(text[at + i]))
            return 0;
    }
    return count;
}

size_t FindUtf8Sequence(const char *text, size_t length)
{
    const unsigned char *bytes = (const unsigned char *)text;
    for (size_t at = 0; at < length; at++) {
        if (bytes[at] >= 0xC2 && Utf8SequenceLength(bytes, at, length) > 0)
            return at;
    }
    return length;
}

bool IsDoubleByteText(const char *text, size_t length, const unsigned char *leadBytes)
{
    for (size_t at = 0; at < length; at++) {
        if (!leadBytes[(unsigned char)text[at]])
            continue;
        unsigned char second = at + 1 < length ? (unsigned char)text[at + 1] : 0;
        if (second < 0x40 || second == 0x7F || second == 0xFF)
            return false;
        at++;
    }
    return true;
}

const char *QuoteText(const char *text, size_t length, char *buffer, size_t size,
                      const unsigned char *leadBytes)
{
    const size_t SHOWN = 60;
    size_t used = 0;
    buffer[0] = '\0';
    size_t i = 0;
    while (i < length && i < SHOWN) {
        /* Both bytes of a double-byte character or none: a second byte of 0x5C
           alone would read as a backslash. */
        size_t bytes = CharLength(text, i, length, leadBytes);
        char piece[16];
        size_t pieceLength = 0;
        for (size_t b = 0; b < bytes; b++) {
            unsigned char byte = (unsigned char)text[i + b];
            if (bytes == 1 && byte >= 0x20 && byte < 0x7F)
                pieceLength += (size_t)snprintf(piece + pieceLength, sizeof piece - pieceLength, "%c", byte);
            else
                pieceLength += (size_t)snprintf(piece + pieceLength, sizeof piece - pieceLength, "\\x%02X", byte);
        }
        if (used + pieceLength + 4 >= size)
            break;
        memcpy(buffer + used, piece, pieceLength + 1);
        used += pieceLength;
        i += bytes;
    }
    if (i < length && used + 4 < size)
        memcpy(buffer + used, "...", 4);
    return buffer;
}

static char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

/* Edit distance where swapping two neighbours counts one; only short words
   are ever compared, so the table is small and fixed. */
static size_t Distance(const char *a, size_t n, const char *b, size_t m)
{
    enum { MOST = 33 };
    size_t d[MOST][MOST];
    for (size_t i = 0; i <= n; i++)
        d[i][0] = i;
    for (size_t j = 0; j <= m; j++)
        d[0][j] = j;
    for (size_t i = 1; i <= n; i++) {
        for (size_t j = 1; j <= m; j++) {
            size_t cost = AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]) ? 0 : 1;
            size_t best = d[i - 1][j - 1] + cost;
            if (d[i - 1][j] + 1 < best)
                best = d[i - 1][j] + 1;
            if (d[i][j - 1] + 1 < best)
                best = d[i][j - 1] + 1;
            if (i > 1 && j > 1 && AsciiLower(a[i - 1]) == AsciiLower(b[j - 2]) &&
                AsciiLower(a[i - 2]) == AsciiLower(b[j - 1]) && d[i - 2][j - 2] + 1 < best)
                best = d[i - 2][j - 2] + 1;
            d[i][j] = best;
        }
    }
    return d[n][m];
}

const char *NearestName(const char *word, size_t length, const char *const *candidates, size_t count)
{
    if (length == 0 || length > 32)
        return NULL;
    /* Two slips in a longer word, one in a short one, and never a word that
       shares nothing with the name. */
    size_t allowed = length >= 3 ? 2 : 1;
    const char *nearest = NULL;
    size_t nearestDistance = allowed + 1;
    for (size_t i = 0; i < count; i++) {
        size_t candidateLength = strlen(candidates[i]);
        if (candidateLength > 32)
            continue;
        size_t distance = Distance(word, length, candidates[i], candidateLength);
        if (distance < nearestDistance && distance < length) {
            nearest = candidates[i];
            nearestDistance = distance;
        }
    }
    return nearest;
}
