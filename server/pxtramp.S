/* The code entry of the proxy VIs, which have no compiled code.
 *
 * Entered like compiled code (the data space's header in EBP, the queue
 * element in EAX), it calls procedure slot 23 of the data space (header
 * offset 92) with the data space's handle (header offset 108) and the
 * element, cdecl, and returns its result: 0, or the resume address of the
 * element that goes on on this thread. */

	.text

	.globl PxRunTrampoline
	.type PxRunTrampoline, @function
PxRunTrampoline:
	pushl %eax
	pushl 108(%ebp)
	call *92(%ebp)
	addl $8, %esp
	ret
	.size PxRunTrampoline, .-PxRunTrampoline

	.section .note.GNU-stack,"",@progbits
