/* Real functions of the extended-precision library, register form: the
 * argument in ST0 (PowerX: base ST0, exponent ST1), the result in ST0.
 * Round-to-nearest is assumed: arguments are split with frndint.
 * Each routine needs at most three free registers besides its arguments. */

#include "extmath_asm.inc"

	.text

/* F2X: 2^x.  x = n + f with n rounded to an integer and |f| <= 1/2;
 * (2^f - 1) + 1 scaled by 2^n.  +inf gives +inf, -inf gives 0. */
FUNC(F2X)
	fxam
	fnstsw %ax
	movl %eax, %edx
	andl $0x4500, %eax
	cmpl $FX_INF, %eax
	jne 1f
	testl $FX_SIGN, %edx
	jz 2f
	fstp %st(0)
	fldz
2:	ret
1:	fld %st(0)
	frndint
	fxch
	fsub %st(1), %st                /* f = x - n, n */
	f2xm1
	fld1
	faddp
	fscale
	fstp %st(1)
	ret
ENDF(F2X)

/* Exp2M1: 2^x - 1; for a rounded part of 0 straight from f2xm1.
 * +inf gives +inf, -inf gives -1. */
FUNC(Exp2M1)
	fxam
	fnstsw %ax
	movl %eax, %edx
	andl $0x4500, %eax
	cmpl $FX_INF, %eax
	jne 1f
	testl $FX_SIGN, %edx
	jz 2f
	fstp %st(0)
	fld1
	fchs
2:	ret
1:	fld %st(0)
	frndint                         /* n, x */
	fldz
	fucomip %st(1), %st
	jne 3f
	jp 3f
	fstp %st(0)                     /* |x| <= 1/2 */
	f2xm1
	ret
3:	fxch
	fsub %st(1), %st                /* f, n */
	f2xm1
	fld1
	faddp
	fscale
	fstp %st(1)                     /* 2^x */
	fld1
	fsubr %st(1), %st
	fstp %st(1)                     /* 2^x - 1 */
	ret
ENDF(Exp2M1)

/* xm_lnp1: ln(1 + u), from fyl2xp1 when |u| <= 0.29289 (1 - 1/sqrt 2,
 * kept as a double), else from log2(1 + u); both times ln 2. */
LFUNC(xm_lnp1)
	fld %st(0)
	fabs
	FLD_DOUBLE(0x3FD2BEB5, 0xB2D4D402)   /* 0.29289 */
	fucomip %st(1), %st
	fstp %st(0)
	jb 1f                           /* unordered too */
	fldln2
	fxch
	fyl2xp1
	ret
1:	fld1
	faddp
	fldln2
	fxch
	fyl2x
	ret
ENDF(xm_lnp1)

/* Lognp1: ln(1 + x). */
FUNC(Lognp1)
	jmp xm_lnp1
ENDF(Lognp1)

/* Sinh and Cosh: for t = |x| log2 e > 64 the result is 2^(t - 1) to the
 * last bit; it is computed so, because the formulas would overflow their
 * intermediate e^|x| before the result itself overflows. */

/* Sinh: with E = 2^(|x| log2 e) - 1, (E + E/(E + 1)) / 2 with the sign of x;
 * an infinite x is returned as it is. */
FUNC(Sinh)
	fxam
	fnstsw %ax
	pushl %eax                      /* keep the sign */
	fabs
	fldl2e
	fmulp                           /* t */
	FILD_CONST(64)
	fucomip %st(1), %st
	jb 1f
	call Exp2M1                     /* E */
	fld %st(0)
	fld1
	faddp
	fdivr %st(1), %st               /* E/(E+1), E */
	faddp
	FMUL_HALF
	jmp 2f
1:	fld1                            /* large, infinite or NaN */
	fsubr %st(1), %st
	fstp %st(1)
	call F2X
2:	popl %eax
	testl $FX_SIGN, %eax
	jz 3f
	fchs
3:	ret
ENDF(Sinh)

/* Cosh: (e^|x| + 1/e^|x|) / 2 with e^|x| = Exp2M1(|x| log2 e) + 1;
 * infinities give +inf. */
FUNC(Cosh)
	fabs
	fldl2e
	fmulp
	FILD_CONST(64)
	fucomip %st(1), %st
	jb 1f
	call Exp2M1
	fld1
	faddp                           /* u = e^|x| */
	fld1
	fdiv %st(1), %st                /* 1/u, u */
	faddp
	FMUL_HALF
	ret
1:	fld1
	fsubr %st(1), %st
	fstp %st(1)
	jmp F2X
ENDF(Cosh)

/* Tanh: with E = e^(2|x|) - 1, E/(E + 2) with the sign of x; from
 * 2|x| log2 e > 70 on the quotient is 1 (infinities give +-1). */
FUNC(Tanh)
	fxam
	fnstsw %ax
	pushl %eax
	fabs
	fldl2e
	fmulp
	fadd %st(0), %st                /* t = 2|x| log2 e */
	FILD_CONST(70)
	fucomip %st(1), %st
	jp 1f                           /* NaN */
	jb 2f
1:	call Exp2M1
	fld %st(0)
	FILD_CONST(2)
	faddp
	fdivr %st(1), %st               /* E/(E+2), E */
	fstp %st(1)
	jmp 3f
2:	fstp %st(0)
	fld1
3:	popl %eax
	testl $FX_SIGN, %eax
	jz 4f
	fchs
4:	ret
ENDF(Tanh)

/* Asinh: ln(1 + u) with the sign of x, u = a + a/(1/a + sqrt(1 + 1/a^2)),
 * a = |x|; from a > 2^32 on ln(2a); zeros are returned as they are. */
FUNC(Asinh)
	fxam
	fnstsw %ax
	movl %eax, %edx
	andl $0x4500, %eax
	cmpl $FX_ZERO, %eax
	jne 1f
	ret
1:	pushl %edx
	fabs
	pushl $0x4F800000               /* 2^32 */
	flds (%esp)
	addl $4, %esp
	fucomip %st(1), %st
	jb 2f
	fld1
	fdiv %st(1), %st                /* r = 1/a, a */
	fld %st(0)
	fmul %st(1), %st
	pushl $1
	fiaddl (%esp)
	addl $4, %esp
	fsqrt                           /* sqrt(1 + r^2), r, a */
	faddp
	fdivr %st(1), %st               /* a/(r + s), a */
	faddp
	call xm_lnp1
	jmp 3f
2:	fld1                            /* ln 2 * (log2 a + 1) */
	fxch
	fyl2x
	fld1
	faddp
	fldln2
	fmulp
3:	popl %eax
	testl $FX_SIGN, %eax
	jz 4f
	fchs
4:	ret
ENDF(Asinh)

/* Acosh: ln(1 + u), u = (x - 1) + sqrt((x + 1)(x - 1)); below 1 the square
 * root gives a NaN; from x > 2^32 on ln(2x). */
FUNC(Acosh)
	pushl $0x4F800000
	flds (%esp)
	addl $4, %esp
	fucomip %st(1), %st
	jp 1f
	jb 2f
1:	fld1
	fsubr %st(1), %st               /* x - 1, x */
	fxch
	fld1
	faddp                           /* x + 1, x - 1 */
	fmul %st(1), %st
	fsqrt
	faddp
	jmp xm_lnp1
2:	fld1
	fxch
	fyl2x
	fld1
	faddp
	fldln2
	fmulp
	ret
ENDF(Acosh)

/* Atanh: ln(1 + 2a/(1 - a)) / 2 with the sign of x, a = |x|; +-1 gives
 * +-inf, above 1 in magnitude a NaN. */
FUNC(Atanh)
	fxam
	fnstsw %ax
	pushl %eax
	fabs
	fld1
	fsub %st(1), %st                /* 1 - a, a */
	fxch
	fadd %st(0), %st                /* 2a, 1 - a */
	fdiv %st(1), %st
	fstp %st(1)
	call xm_lnp1
	FMUL_HALF
	popl %eax
	testl $FX_SIGN, %eax
	jz 1f
	fchs
1:	ret
ENDF(Atanh)

/* PowerX: x^y, x in ST0, y in ST1.
 * x > 0: 2^(y log2 x); x = 0: 1 when y = 0, +inf when y < 0, 0 when y > 0;
 * x < 0: y must equal its conversion to a 32-bit integer, else a NaN, and
 * the result is |x|^y, negated for odd y; a NaN x gives a NaN. */
FUNC(PowerX)
	fxam
	fnstsw %ax
	movl %eax, %edx
	andl $0x4500, %eax
	cmpl $FX_NAN, %eax
	je 1f
	cmpl $FX_UNSUPPORTED, %eax
	je 2f
	cmpl $FX_ZERO, %eax
	je 3f
	testl $FX_SIGN, %edx
	jnz 4f
	fyl2x                           /* y log2 x */
	jmp F2X
1:	fstp %st(1)                     /* NaN base: the result */
	ret
2:	fstp %st(0)                     /* not a number the processor accepts */
	fstp %st(0)
	pushl $0x7FC00000
	flds (%esp)
	addl $4, %esp
	ret
3:	fstp %st(0)                     /* zero base: y decides */
	fldz
	fucomip %st(1), %st
	jp 33f                          /* NaN exponent: the result */
	je 31f
	jb 32f
	fstp %st(0)                     /* y < 0 */
	pushl $0x7F800000
	flds (%esp)
	addl $4, %esp
	ret
31:	fstp %st(0)
	fld1
	ret
32:	fstp %st(0)
	fldz
33:	ret
4:	subl $4, %esp                   /* negative base */
	fld %st(1)
	fistpl (%esp)
	fildl (%esp)
	fucomip %st(2), %st
	jne 5f
	jp 5f
	fabs
	fyl2x
	call F2X
	testl $1, (%esp)
	jz 41f
	fchs
41:	addl $4, %esp
	ret
5:	addl $4, %esp                   /* not an integer exponent */
	fstp %st(0)
	fstp %st(0)
	pushl $0x7FC00000
	flds (%esp)
	addl $4, %esp
	ret
ENDF(PowerX)

/* ------------------------------------------------------------------ */
/* C-callable entries: arguments on the machine stack, result in ST0. */

#define REAL_ENTRY(name, routine) FUNC(name) fldt 4(%esp); call routine; ret; ENDF(name)

REAL_ENTRY(ExtSinh, Sinh)
REAL_ENTRY(ExtCosh, Cosh)
REAL_ENTRY(ExtTanh, Tanh)
REAL_ENTRY(ExtAsinh, Asinh)
REAL_ENTRY(ExtAcosh, Acosh)
REAL_ENTRY(ExtAtanh, Atanh)
REAL_ENTRY(ExtLognp1, Lognp1)
REAL_ENTRY(ExtF2X, F2X)
REAL_ENTRY(ExtExp2M1, Exp2M1)

/* floatExt ExtPowerX(floatExt x, floatExt y) */
FUNC(ExtPowerX)
	fldt 16(%esp)
	fldt 4(%esp)
	call PowerX
	ret
ENDF(ExtPowerX)

	.section .note.GNU-stack, "", @progbits
