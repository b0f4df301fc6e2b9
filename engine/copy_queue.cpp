#include "engine/copy_queue.h"

CopyQueueMap copyQueue;
std::mutex copyQueueMutex;

size_t copyQueueCount() {
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    return copyQueue.size();
}

std::wstring copyQueueShutdownText(size_t remaining) {
    return L"000: Not all files were copied before the last application shutdown.\n" + std::to_wstring(remaining) +
           L" item" + (remaining == 1 ? L"" : L"s") + L" remain. Copy queue saved to resume on restart.";
}
