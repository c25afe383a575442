/* Entry into compiled code.
 *
 * Compiled code is entered with the data space's header in EBP and the queue
 * element in EAX; it may use every general register and returns 0 (the clump
 * is done) or the address where it wants to be resumed, in EAX. */

	.text

/* int32 CallCompiledCode(void* code, DataSpace ds, QueueElement* element):
 * saves EBX, ESI, EDI, ECX and EBP, loads the data space's header (the block
 * of its handle) into EBP and the element into EAX, calls the code and gives
 * back EAX. */
	.globl CallCompiledCode
	.type CallCompiledCode, @function
CallCompiledCode:
	pushl %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	pushl %ecx
	movl 24(%esp), %edx        /* code */
	movl 28(%esp), %ebp        /* data space handle */
	movl (%ebp), %ebp          /* its header */
	movl 32(%esp), %eax        /* element */
	call *%edx
	popl %ecx
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
	.size CallCompiledCode, .-CallCompiledCode

/* The completion trampoline: entered like compiled code, it calls procedure
 * slot 25 of the data space (header offset 100) with the data space's handle
 * (header offset 108) and the element, cdecl, and returns its result. */
	.globl DSCompletionTrampoline
	.type DSCompletionTrampoline, @function
DSCompletionTrampoline:
	pushl %eax
	pushl 108(%ebp)
	call *100(%ebp)
	addl $8, %esp
	ret
	.size DSCompletionTrampoline, .-DSCompletionTrampoline

/* void* QXThreadPointer(void): the calling thread's thread pointer (the word
 * at GS:0), against which thread-local words are addressed through GS. */
	.globl QXThreadPointer
	.type QXThreadPointer, @function
QXThreadPointer:
	movl %gs:0, %eax
	ret
	.size QXThreadPointer, .-QXThreadPointer

	.section .note.GNU-stack,"",@progbits
