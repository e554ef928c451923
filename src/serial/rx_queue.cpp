#include "rx_queue.h"

#include <algorithm>
#include <cstring>

TRxQueue::TRxQueue(size_t Capacity) : FData(std::max<size_t>(Capacity, 1)) {}

size_t TRxQueue::Push(const char* Bytes, size_t Count)
{
    Count = std::min(Count, Room());
    size_t tail = (FHead + FSize) % FData.size();
    size_t first = std::min(Count, FData.size() - tail);
    std::memcpy(FData.data() + tail, Bytes, first);
    std::memcpy(FData.data(), Bytes + first, Count - first);
    FSize += Count;
    return Count;
}

size_t TRxQueue::Pop(char* Into, size_t Count)
{
    Count = std::min(Count, FSize);
    size_t first = std::min(Count, FData.size() - FHead);
    std::memcpy(Into, FData.data() + FHead, first);
    std::memcpy(Into + first, FData.data(), Count - first);
    FHead = (FHead + Count) % FData.size();
    FSize -= Count;
    return Count;
}

void TRxQueue::SetCapacity(size_t Capacity)
{
    Capacity = std::max({Capacity, FSize, size_t{1}});
    if (Capacity == FData.size())
        return;
    std::vector<char> data(Capacity);
    size_t n = FSize;
    Pop(data.data(), n);
    FData.swap(data);
    FHead = 0;
    FSize = n;
}
