#pragma once
// The receive queue between the event thread, which drains the device into it
// as bytes arrive, and the reads of the UI thread. A ring of fixed capacity:
// when it is full the thread stops draining and bytes wait in the kernel.

#include <cstddef>
#include <vector>

class TRxQueue {
public:
    explicit TRxQueue(size_t Capacity = 4096);

    size_t Size() const { return FSize; }
    size_t Capacity() const { return FData.size(); }
    size_t Room() const { return FData.size() - FSize; }

    // Appends at most Room() bytes; returns how many were taken.
    size_t Push(const char* Bytes, size_t Count);
    // Removes up to Count bytes, oldest first; returns how many.
    size_t Pop(char* Into, size_t Count);
    void Clear() { FHead = FSize = 0; }
    // Keeps the queued bytes: the capacity never drops below Size().
    void SetCapacity(size_t Capacity);

private:
    std::vector<char> FData;
    size_t FHead = 0;
    size_t FSize = 0;
};
