#include "call_probe.h"

#include <vector>

// zorvik_probe_call(fn, args, count, ecx, &result): pushes args[count-1] .. args[0],
// loads ECX, calls fn, stores EAX in *result and returns ESP after the call minus ESP
// before it. EDI holds the stack pointer across the call (callee-saved in every x86
// convention).
asm(R"(
    .text
    .globl _zorvik_probe_call
_zorvik_probe_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 12(%ebp), %esi
    movl 16(%ebp), %edx
1:  testl %edx, %edx
    jz 2f
    decl %edx
    pushl (%esi,%edx,4)
    jmp 1b
2:  movl %esp, %edi
    movl 20(%ebp), %ecx
    call *8(%ebp)
    movl 24(%ebp), %ecx
    movl %eax, (%ecx)
    movl %esp, %eax
    subl %edi, %eax
    leal -12(%ebp), %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

extern "C" int zorvik_probe_call(const void* fn, const std::uint32_t* args, int count,
                                 std::uint32_t ecx, std::uint32_t* result);

namespace zorvik::access::testing {

ProbedCall probe_call(const void* fn, const std::vector<std::uint32_t>& args,
                      std::uint32_t this_arg) {
    ProbedCall call;
    call.popped_bytes =
        zorvik_probe_call(fn, args.data(), static_cast<int>(args.size()), this_arg, &call.result);
    return call;
}

}  // namespace zorvik::access::testing
