#include "guarded_call.h"

#include <windows.h>

#include <excpt.h>

namespace varnox::rpc {
namespace {

thread_local std::uint32_t raisedCode = 0;

// The exceptions that are bugs of our own, not failures of a call: the set the
// platform's own RPC exception filter lets pass. Some have no name in our headers.
constexpr DWORD FATAL_CODES[] = {
    0xC0000005,  // STATUS_ACCESS_VIOLATION
    0xC0000194,  // STATUS_POSSIBLE_DEADLOCK
    0xC00000AA,  // STATUS_INSTRUCTION_MISALIGNMENT
    0x80000002,  // STATUS_DATATYPE_MISALIGNMENT
    0xC0000096,  // STATUS_PRIVILEGED_INSTRUCTION
    0xC000001D,  // STATUS_ILLEGAL_INSTRUCTION
    0x80000003,  // STATUS_BREAKPOINT
    0xC00000FD,  // STATUS_STACK_OVERFLOW
    0xC0000235,  // STATUS_HANDLE_NOT_CLOSABLE
    0xC0000006,  // STATUS_IN_PAGE_ERROR
    0xC0000420,  // STATUS_ASSERTION_FAILURE
    0xC0000409,  // STATUS_STACK_BUFFER_OVERRUN
    0x80000001,  // STATUS_GUARD_PAGE_VIOLATION
};

bool IsFatal(DWORD code) {
    for (const DWORD fatal : FATAL_CODES) {
        if (code == fatal) return true;
    }
    return false;
}

}  // namespace
}  // namespace varnox::rpc

// Named from the assembler scope table that __try1 emits, so it needs C linkage.
extern "C" LONG VarnoxRpcCallFilter(EXCEPTION_POINTERS* pointers, void* /*frame*/) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (varnox::rpc::IsFatal(code)) return EXCEPTION_CONTINUE_SEARCH;
    varnox::rpc::raisedCode = code;
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace varnox::rpc {

// The guarded region is marked by fixed assembler labels, so this must be the only
// guarded function in this file and must never be inlined. After an exception the
// runtime resumes right behind the region with this frame's stack but arbitrary
// scratch registers; nothing here is kept in one across the call but `raisedCode`,
// which lives in memory.
__attribute__((noinline)) std::uint32_t CallGuarded(void (*call)(void* context), void* context) {
    raisedCode = 0;
    __try1(VarnoxRpcCallFilter);
    call(context);
    __except1;
    return raisedCode;
}

}  // namespace varnox::rpc
