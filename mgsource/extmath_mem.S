/* Memory primitives of the extended-precision library: stores of ST0 to
 * every real type with pinning, loads of every real type into ST0, the
 * floating-point reset, integer tests, and the 16-byte big-endian flat form.
 *
 * Stores and loads take one pointer on the machine stack (the caller removes
 * it) and keep the value in ST0; results come back in EAX. */

#include "extmath_asm.inc"

	.text

LFUNC(xm_thunk_bx)
	movl (%esp), %ebx
	ret
ENDF(xm_thunk_bx)

/* xm_put: stores EAX at ECX with the width EDX (1, 2 or 4 bytes). */
LFUNC(xm_put)
	cmpl $1, %edx
	jne 1f
	movb %al, (%ecx)
	ret
1:	cmpl $2, %edx
	jne 2f
	movw %ax, (%ecx)
	ret
2:	movl %eax, (%ecx)
	ret
ENDF(xm_put)

/* int32 xm_store_small(void* p, int32 min, uint32 max, int32 width, uint32 nanval)
 * ST0 (kept) rounded to nearest and pinned to [min, max]; a NaN stores
 * nanval and returns 0, everything else returns 1. */
LFUNC(xm_store_small)
	movl 4(%esp), %ecx
	movl 16(%esp), %edx
	fucomi %st(0), %st
	jp 3f
	fld %st(0)
	frndint                         /* r, x */
	pushl $0
	pushl 16(%esp)
	fildll (%esp)                   /* max, r, x */
	addl $8, %esp
	fucomip %st(1), %st
	jb 1f
	movl 8(%esp), %eax
	cltd
	pushl %edx
	pushl %eax
	fildll (%esp)                   /* min, r, x */
	addl $8, %esp
	fucomip %st(1), %st
	ja 2f
	subl $8, %esp
	fistpll (%esp)                  /* in range: exact */
	movl (%esp), %eax
	addl $8, %esp
	movl 16(%esp), %edx
	call xm_put
	movl $1, %eax
	ret
1:	fstp %st(0)                     /* above: the maximum */
	movl 12(%esp), %eax
	call xm_put
	movl $1, %eax
	ret
2:	fstp %st(0)                     /* below: the minimum */
	movl 8(%esp), %eax
	movl 16(%esp), %edx
	call xm_put
	movl $1, %eax
	ret
3:	movl 20(%esp), %eax             /* NaN */
	call xm_put
	xorl %eax, %eax
	ret
ENDF(xm_store_small)

#define STORE_SMALL(name, min, max, width, nanval) \
	FUNC(name) pushl $nanval; pushl $width; pushl $max; pushl $min; pushl 20(%esp); \
	call xm_store_small; addl $20, %esp; ret; ENDF(name)

STORE_SMALL(ExtStoreNumI8, -128, 127, 1, 0x80)
STORE_SMALL(ExtStoreNumU8, 0, 255, 1, 0)
STORE_SMALL(ExtStoreNumI16, -32768, 32767, 2, 0x8000)
STORE_SMALL(ExtStoreNumU16, 0, 65535, 2, 0)
STORE_SMALL(ExtStoreNumI32, -2147483648, 2147483647, 4, 0x80000000)
STORE_SMALL(ExtStoreNumU32, 0, 0xFFFFFFFF, 4, 0)

/* Signed 64 bits, not pinned: the processor's store (integer-indefinite out
 * of range), 1 when -2^63 <= round(x) < 2^63, else 0. */
FUNC(ExtStoreNumI64)
	movl 4(%esp), %ecx
	fld %st(0)
	fistpll (%ecx)
	fucomi %st(0), %st
	jp 2f
	fld %st(0)
	frndint
	pushl $0x5F000000               /* 2^63 */
	flds (%esp)
	fucomip %st(1), %st
	jbe 1f
	movl $0xDF000000, (%esp)        /* -2^63 */
	flds (%esp)
	fucomip %st(1), %st
	ja 1f
	addl $4, %esp
	fstp %st(0)
	movl $1, %eax
	ret
1:	addl $4, %esp
	fstp %st(0)
2:	xorl %eax, %eax
	ret
ENDF(ExtStoreNumI64)

/* Unsigned 64 bits, not pinned: 0 <= round(x) < 2^63 stored as usual,
 * 2^63 <= round(x) < 2^64 from the significand, both returning 1; negative
 * values keep the processor's two's complement (or integer-indefinite),
 * larger ones and NaN the integer-indefinite value, returning 0. */
FUNC(ExtStoreNumU64)
	movl 4(%esp), %ecx
	fucomi %st(0), %st
	jp 4f
	fld %st(0)
	frndint                         /* r, x */
	fldz
	fucomip %st(1), %st
	ja 3f                           /* r < 0 */
	pushl $0x5F000000               /* 2^63 */
	flds (%esp)
	fucomip %st(1), %st
	ja 1f
	movl $0x5F800000, (%esp)        /* 2^64 */
	flds (%esp)
	addl $4, %esp
	fucomip %st(1), %st
	jbe 2f
	subl $12, %esp                  /* 2^63 <= r < 2^64: its significand */
	fstpt (%esp)
	movl (%esp), %eax
	movl %eax, (%ecx)
	movl 4(%esp), %eax
	movl %eax, 4(%ecx)
	addl $12, %esp
	movl $1, %eax
	ret
1:	addl $4, %esp
	fistpll (%ecx)
	movl $1, %eax
	ret
2:	fstp %st(0)
	jmp 4f
3:	fstp %st(0)
4:	fld %st(0)
	fistpll (%ecx)
	xorl %eax, %eax
	ret
ENDF(ExtStoreNumU64)

/* Floating stores: rounded by the processor, infinities of the same sign. */
FUNC(ExtStoreFloatSGL)
	movl 4(%esp), %ecx
	fsts (%ecx)
	movl $1, %eax
	ret
ENDF(ExtStoreFloatSGL)

FUNC(ExtStoreFloatDBL)
	movl 4(%esp), %ecx
	fstl (%ecx)
	movl $1, %eax
	ret
ENDF(ExtStoreFloatDBL)

FUNC(ExtStoreFloatEXT)
	movl 4(%esp), %ecx
	fld %st(0)
	fstpt (%ecx)
	movl $1, %eax
	ret
ENDF(ExtStoreFloatEXT)

/* Loads. */
FUNC(ExtLoadNumI8)
	movl 4(%esp), %ecx
	movsbl (%ecx), %eax
	pushl %eax
	fildl (%esp)
	addl $4, %esp
	ret
ENDF(ExtLoadNumI8)

FUNC(ExtLoadNumU8)
	movl 4(%esp), %ecx
	movzbl (%ecx), %eax
	pushl %eax
	fildl (%esp)
	addl $4, %esp
	ret
ENDF(ExtLoadNumU8)

FUNC(ExtLoadNumI16)
	movl 4(%esp), %ecx
	filds (%ecx)
	ret
ENDF(ExtLoadNumI16)

FUNC(ExtLoadNumU16)
	movl 4(%esp), %ecx
	movzwl (%ecx), %eax
	pushl %eax
	fildl (%esp)
	addl $4, %esp
	ret
ENDF(ExtLoadNumU16)

FUNC(ExtLoadNumI32)
	movl 4(%esp), %ecx
	fildl (%ecx)
	ret
ENDF(ExtLoadNumI32)

FUNC(ExtLoadNumU32)
	movl 4(%esp), %ecx
	pushl $0
	pushl (%ecx)
	fildll (%esp)
	addl $8, %esp
	ret
ENDF(ExtLoadNumU32)

FUNC(ExtLoadNumI64)
	movl 4(%esp), %ecx
	fildll (%ecx)
	ret
ENDF(ExtLoadNumI64)

/* Unsigned 64 bits: 2^63 or more is built as an extended with exponent
 * 0x403E and the value as significand. */
FUNC(ExtLoadNumU64)
	movl 4(%esp), %ecx
	movl 4(%ecx), %eax
	testl %eax, %eax
	js 1f
	fildll (%ecx)
	ret
1:	pushl $0x403E
	pushl %eax
	pushl (%ecx)
	fldt (%esp)
	addl $12, %esp
	ret
ENDF(ExtLoadNumU64)

FUNC(ExtLoadNumSGL)
	movl 4(%esp), %ecx
	flds (%ecx)
	ret
ENDF(ExtLoadNumSGL)

FUNC(ExtLoadNumDBL)
	movl 4(%esp), %ecx
	fldl (%ecx)
	ret
ENDF(ExtLoadNumDBL)

FUNC(ExtLoadNumEXT)
	movl 4(%esp), %ecx
	fldt (%ecx)
	ret
ENDF(ExtLoadNumEXT)

/* FPUReset: all exceptions masked, 64-bit precision, round to nearest,
 * empty register stack. */
FUNC(FPUReset)
	fninit
	ret
ENDF(FPUReset)

FUNC(ExtConvEnter)
	ret
ENDF(ExtConvEnter)

FUNC(ExtConvLeave)
	ret
ENDF(ExtConvLeave)

/* ExtIntClass: EAX = 0 not an integer, 1 negative integer, 2 non-negative. */
FUNC(ExtIntClass)
	fxam
	fnstsw %ax
	andl $0x4500, %eax
	cmpl $FX_ZERO, %eax
	je 2f
	cmpl $FX_NORMAL, %eax
	je 1f
	cmpl $FX_DENORMAL, %eax
	je 1f
	xorl %eax, %eax
	ret
1:	fld %st(0)
	frndint
	fucomip %st(1), %st
	jne 3f
	fldz
	fucomip %st(1), %st
	ja 4f
2:	movl $2, %eax
	ret
3:	xorl %eax, %eax
	ret
4:	movl $1, %eax
	ret
ENDF(ExtIntClass)

/* ExtTrunc: ST0 rounded toward zero; the control word is put back. */
FUNC(ExtTrunc)
	subl $4, %esp
	fnstcw (%esp)
	movzwl (%esp), %eax
	orl $0x0C00, %eax
	movw %ax, 2(%esp)
	fldcw 2(%esp)
	frndint
	fldcw (%esp)
	addl $4, %esp
	ret
ENDF(ExtTrunc)

/* void ExtNativeToBE(const floatExt* native, uChar* flat)
 * The sign-and-exponent word, the significand shifted left by one unless
 * the exponent bits are 0, both big-endian, then six zero bytes. */
FUNC(ExtNativeToBE)
	pushl %ebx
	pushl %esi
	movl 12(%esp), %ecx
	movl 16(%esp), %edx
	movl (%ecx), %eax               /* significand, low half */
	movl 4(%ecx), %esi              /* high half */
	movzwl 8(%ecx), %ebx            /* sign and exponent */
	testl $0x7FFF, %ebx
	jz 1f
	shldl $1, %eax, %esi
	addl %eax, %eax
1:	rolw $8, %bx
	movw %bx, (%edx)
	bswapl %esi
	movl %esi, 2(%edx)
	bswapl %eax
	movl %eax, 6(%edx)
	movl $0, 10(%edx)
	movw $0, 14(%edx)
	popl %esi
	popl %ebx
	ret
ENDF(ExtNativeToBE)

/* void ExtBEToNative(const uChar* flat, floatExt* native)
 * When the exponent bits are not 0 the significand is shifted right by one
 * and the integer bit set; zeros and denormals of both signs come back as
 * they were stored.  Integer work only: no pattern can trap. */
FUNC(ExtBEToNative)
	pushl %ebx
	pushl %esi
	movl 12(%esp), %ecx
	movl 16(%esp), %edx
	movzwl (%ecx), %ebx
	rolw $8, %bx
	movl 2(%ecx), %esi
	bswapl %esi                     /* high half */
	movl 6(%ecx), %eax
	bswapl %eax                     /* low half */
	testl $0x7FFF, %ebx
	jz 1f
	shrdl $1, %esi, %eax
	shrl $1, %esi
	orl $0x80000000, %esi
1:	movl %eax, (%edx)
	movl %esi, 4(%edx)
	movw %bx, 8(%edx)
	popl %esi
	popl %ebx
	ret
ENDF(ExtBEToNative)

/* ------------------------------------------------------------------ */
/* C-callable entries. */

/* int32 ExtStoreNumber(int32 numType, void* dst, floatExt x) */
FUNC(ExtStoreNumber)
	pushl %ebx
	movl 8(%esp), %eax
	decl %eax
	cmpl $10, %eax
	ja 1f
	call xm_thunk_bx
.Lst_base:
	movl .Lst_table-.Lst_base(%ebx,%eax,4), %edx
	addl %ebx, %edx
	fldt 16(%esp)
	pushl 12(%esp)
	call *%edx
	addl $4, %esp
	fstp %st(0)
	popl %ebx
	ret
1:	xorl %eax, %eax
	popl %ebx
	ret
	.p2align 2
.Lst_table:
	.long .Lst_i8-.Lst_base, .Lst_i16-.Lst_base, .Lst_i32-.Lst_base, .Lst_i64-.Lst_base
	.long .Lst_u8-.Lst_base, .Lst_u16-.Lst_base, .Lst_u32-.Lst_base, .Lst_u64-.Lst_base
	.long .Lst_sgl-.Lst_base, .Lst_dbl-.Lst_base, .Lst_ext-.Lst_base
ENDF(ExtStoreNumber)

/* floatExt ExtLoadNumber(int32 numType, const void* src) */
FUNC(ExtLoadNumber)
	pushl %ebx
	movl 8(%esp), %eax
	decl %eax
	cmpl $10, %eax
	ja 1f
	call xm_thunk_bx
.Lld_base:
	movl .Lld_table-.Lld_base(%ebx,%eax,4), %edx
	addl %ebx, %edx
	pushl 12(%esp)
	call *%edx
	addl $4, %esp
	popl %ebx
	ret
1:	pushl $0x7FC00000
	flds (%esp)
	addl $4, %esp
	popl %ebx
	ret
	.p2align 2
.Lld_table:
	.long .Lld_i8-.Lld_base, .Lld_i16-.Lld_base, .Lld_i32-.Lld_base, .Lld_i64-.Lld_base
	.long .Lld_u8-.Lld_base, .Lld_u16-.Lld_base, .Lld_u32-.Lld_base, .Lld_u64-.Lld_base
	.long .Lld_sgl-.Lld_base, .Lld_dbl-.Lld_base, .Lld_ext-.Lld_base
ENDF(ExtLoadNumber)

	.set .Lst_i8, ExtStoreNumI8
	.set .Lst_i16, ExtStoreNumI16
	.set .Lst_i32, ExtStoreNumI32
	.set .Lst_i64, ExtStoreNumI64
	.set .Lst_u8, ExtStoreNumU8
	.set .Lst_u16, ExtStoreNumU16
	.set .Lst_u32, ExtStoreNumU32
	.set .Lst_u64, ExtStoreNumU64
	.set .Lst_sgl, ExtStoreFloatSGL
	.set .Lst_dbl, ExtStoreFloatDBL
	.set .Lst_ext, ExtStoreFloatEXT
	.set .Lld_i8, ExtLoadNumI8
	.set .Lld_i16, ExtLoadNumI16
	.set .Lld_i32, ExtLoadNumI32
	.set .Lld_i64, ExtLoadNumI64
	.set .Lld_u8, ExtLoadNumU8
	.set .Lld_u16, ExtLoadNumU16
	.set .Lld_u32, ExtLoadNumU32
	.set .Lld_u64, ExtLoadNumU64
	.set .Lld_sgl, ExtLoadNumSGL
	.set .Lld_dbl, ExtLoadNumDBL
	.set .Lld_ext, ExtLoadNumEXT

/* int32 ExtIntClassOf(floatExt x) */
FUNC(ExtIntClassOf)
	fldt 4(%esp)
	call ExtIntClass
	fstp %st(0)
	ret
ENDF(ExtIntClassOf)

/* floatExt ExtTruncOf(floatExt x) */
FUNC(ExtTruncOf)
	fldt 4(%esp)
	call ExtTrunc
	ret
ENDF(ExtTruncOf)

	.section .note.GNU-stack, "", @progbits
