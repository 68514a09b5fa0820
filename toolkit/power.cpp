#include "toolkit/power.h"

namespace toolkit {
namespace {

// A request that holds from now, or nothing.
UniqueSystemRequired SystemRequired(const wchar_t* reason) {
  REASON_CONTEXT context{};
  context.Version = POWER_REQUEST_CONTEXT_VERSION;
  context.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
  // Read when the request is made, never written: a constant text may stand here.
  context.Reason.SimpleReasonString = const_cast<wchar_t*>(reason);
  HANDLE made = ::PowerCreateRequest(&context);
  if (made == INVALID_HANDLE_VALUE) return UniqueSystemRequired();
  UniqueSystemRequired request(made);
  if (request && !::PowerSetRequest(request.get(), PowerRequestSystemRequired)) request.reset();
  return request;
}

}  // namespace

// Windows itself ends a request at a sleep the user starts, and on a Modern Standby
// machine on battery some minutes after the sleep time-out, yet the handle stays open:
// the old request is let go first and a new one made, never the old one trusted.
void SystemIdleSleepHold::Take(const wchar_t* reason) {
  Release();
  request_ = SystemRequired(reason);
  // Per thread: taken and cleared on the user-interface thread alone.
  if (!request_) by_thread_state_ = ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

void SystemIdleSleepHold::Release() {
  request_.reset();
  if (by_thread_state_) ::SetThreadExecutionState(ES_CONTINUOUS);
  by_thread_state_ = false;
}

}  // namespace toolkit
