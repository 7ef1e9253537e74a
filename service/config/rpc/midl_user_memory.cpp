// The allocator the RPC stubs of both sides use for everything they marshal: the
// process heap, so either side's runtime may free what the other allocated.

#include <windows.h>

#include <rpc.h>

extern "C" void* __RPC_USER MIDL_user_allocate(SIZE_T size) { return HeapAlloc(GetProcessHeap(), 0, size); }

extern "C" void __RPC_USER MIDL_user_free(void* memory) {
    if (memory != nullptr) HeapFree(GetProcessHeap(), 0, memory);
}
