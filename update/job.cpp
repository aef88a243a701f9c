#include "update/job.h"

namespace orvantis {

void SetError(Job& job, const std::wstring& text) {
    EnterCriticalSection(&job.lock);
    job.error = text;
    LeaveCriticalSection(&job.lock);
}

}  // namespace orvantis
