// The register-form call harness (see extmath_test_util.h).
#include "extmath_test_util.h"

asm(R"(
	.text
	.globl QxTestRegCall
	.type QxTestRegCall, @function
QxTestRegCall:
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $12, %esp
	movl 28(%ebp), %eax          /* sentinels */
	fldt 12(%eax)
	fldt (%eax)
	movl 12(%ebp), %esi          /* in */
	movl 16(%ebp), %ecx          /* nIn */
1:	testl %ecx, %ecx
	jz 2f
	decl %ecx
	imull $12, %ecx, %eax
	fldt (%esi,%eax)
	jmp 1b
2:	movl 32(%ebp), %eax          /* control word */
	testl %eax, %eax
	jz 3f
	movw %ax, -16(%ebp)
	fldcw -16(%ebp)
3:	cmpl $0, 36(%ebp)            /* raise divide-by-zero */
	je 4f
	fldz
	fld1
	fdiv %st(1), %st
	fstp %st(0)
	fstp %st(0)
4:	movl 48(%ebp), %ecx          /* machine-stack arguments */
	movl %ecx, -20(%ebp)
	movl 44(%ebp), %esi
7:	testl %ecx, %ecx
	jz 8f
	decl %ecx
	pushl (%esi,%ecx,4)
	jmp 7b
8:	movl 40(%ebp), %edi
	fnstcw (%edi)
	fnstsw 2(%edi)
	call *8(%ebp)
	movl -20(%ebp), %ecx
	leal (%esp,%ecx,4), %esp
	movl %eax, -24(%ebp)
	movl 40(%ebp), %edi
	fnstcw 4(%edi)
	fnstsw 6(%edi)
	movl 20(%ebp), %esi          /* out */
	movl 24(%ebp), %ecx          /* nOut */
	xorl %edx, %edx
5:	cmpl %ecx, %edx
	jge 6f
	imull $12, %edx, %eax
	fstpt (%esi,%eax)
	incl %edx
	jmp 5b
6:	movl 28(%ebp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	fnclex
	movw $0x037F, -16(%ebp)
	fldcw -16(%ebp)
	movl -24(%ebp), %eax
	addl $12, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
	.size QxTestRegCall, . - QxTestRegCall
)");

// QxTestFillerCall: the register stack is reset, k fillers (1.0) pushed,
// then in[nIn-1] .. in[0]; args go on the machine stack; after the call nOut
// results are popped into out and the fillers checked.  Returns 1 when all
// k fillers are still 1.0.
asm(R"(
	.text
	.globl QxTestFillerCall
	.type QxTestFillerCall, @function
QxTestFillerCall:
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	fninit
	movl 12(%ebp), %ecx          /* k */
1:	testl %ecx, %ecx
	jz 2f
	fld1
	decl %ecx
	jmp 1b
2:	movl 16(%ebp), %esi          /* in */
	movl 20(%ebp), %ecx          /* nIn */
3:	testl %ecx, %ecx
	jz 4f
	decl %ecx
	imull $12, %ecx, %eax
	fldt (%esi,%eax)
	jmp 3b
4:	movl 36(%ebp), %ecx          /* nArgs */
	movl 32(%ebp), %esi          /* args */
5:	testl %ecx, %ecx
	jz 6f
	decl %ecx
	pushl (%esi,%ecx,4)
	jmp 5b
6:	call *8(%ebp)
	movl 36(%ebp), %ecx
	leal (%esp,%ecx,4), %esp
	movl 24(%ebp), %esi          /* out */
	xorl %edx, %edx
7:	cmpl 28(%ebp), %edx
	jge 8f
	imull $12, %edx, %eax
	fstpt (%esi,%eax)
	incl %edx
	jmp 7b
8:	movl 12(%ebp), %ecx
	movl $1, %ebx
9:	testl %ecx, %ecx
	jz 11f
	fld1
	fucomip %st(1), %st
	jp 10f
	je 12f
10:	xorl %ebx, %ebx
12:	fstp %st(0)
	decl %ecx
	jmp 9b
11:	movl %ebx, %eax
	fninit
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
	.size QxTestFillerCall, . - QxTestFillerCall
)");
