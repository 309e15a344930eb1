/*
 * An exhausted heap on demand, for the product's allocation failures. A test
 * program that uses it links tests/support/failing_heap.cpp with
 * -Wl,--wrap=malloc,--wrap=realloc,--wrap=calloc (see tests/CMakeLists.txt).
 */
#pragma once

extern "C" bool HeapExhausted; /* while set, malloc, realloc and calloc answer null */

namespace testsupport {

struct ExhaustedHeap {
    ExhaustedHeap() { HeapExhausted = true; }
    ~ExhaustedHeap() { HeapExhausted = false; }
};

} // namespace testsupport
