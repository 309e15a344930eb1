/*
 * The wrapped allocators behind failing_heap.h: they pass every request on
 * to the runtime until HeapExhausted is set.
 */
#include "support/failing_heap.h"

#include <stddef.h>

extern "C" {

bool HeapExhausted = false;

void *__real_malloc(size_t size);
void *__real_realloc(void *block, size_t size);
void *__real_calloc(size_t count, size_t size);

void *__wrap_malloc(size_t size) { return HeapExhausted ? NULL : __real_malloc(size); }

void *__wrap_realloc(void *block, size_t size)
{
    return HeapExhausted ? NULL : __real_realloc(block, size);
}

void *__wrap_calloc(size_t count, size_t size)
{
    return HeapExhausted ? NULL : __real_calloc(count, size);
}
}
