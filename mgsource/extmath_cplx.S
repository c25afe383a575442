/* Complex functions of the extended-precision library, register form: a
 * complex number is its real part in ST0 and its imaginary part in ST1, and
 * the result comes back the same way.  ComplexDivide takes the divisor in
 * ST0/ST1 and the dividend in ST2/ST3; ComplexSincos returns the cosine in
 * ST0/ST1 and the sine in ST2/ST3; ComplexGetman returns the significands in
 * ST0/ST1 and the exponents in ST2/ST3.  Apart from ComplexRToP and
 * ComplexPToR, which save and restore the whole floating-point state, they
 * may need all eight registers. */

#include "extmath_asm.inc"

	.text

/* xm_sincos: ST0 = x -> ST0 = cos x, ST1 = sin x; arguments beyond the
 * range of fsincos are first reduced modulo 2 pi. */
LFUNC(xm_sincos)
	fsincos
	fnstsw %ax
	testl $0x0400, %eax
	jz 2f
	fldpi
	fadd %st(0), %st
	fxch
1:	fprem1
	fnstsw %ax
	testl $0x0400, %eax
	jnz 1b
	fstp %st(1)
	fsincos
2:	ret
ENDF(xm_sincos)

/* xm_isinf: EAX = 1 when ST0 is infinite, else 0. */
LFUNC(xm_isinf)
	fxam
	fnstsw %ax
	andl $0x4500, %eax
	cmpl $FX_INF, %eax
	sete %al
	movzbl %al, %eax
	ret
ENDF(xm_isinf)

/* ComplexRToP: magnitude in ST0, angle atan2(b, a) in ST1.  a = 0 gives
 * |b| and +-pi/2 (0 and 0 for b = 0); a NaN gives NaN in both.  The whole
 * floating-point state is saved first and restored before the results are
 * pushed. */
#define FS_SAVE 0
#define FS_A 108
#define FS_B 120
#define FS_FRAME 132
FUNC(ComplexRToP)
	subl $FS_FRAME, %esp
	fstpt FS_A(%esp)
	fstpt FS_B(%esp)
	fnsave FS_SAVE(%esp)
	fldt FS_B(%esp)
	fldt FS_A(%esp)                 /* a, b */
	fucomi %st(0), %st
	jp 5f
	fxch
	fucomi %st(0), %st
	fxch
	jp 6f
	fldz
	fucomip %st(1), %st
	jne 3f
	jp 3f
	fstp %st(0)                     /* a = 0 */
	fldz
	fucomip %st(1), %st
	jne 1f
	fstp %st(0)                     /* b = 0: 0 and 0 */
	fldz
	fldz
	jmp 9f
1:	ja 2f
	fldpi                           /* b > 0 */
	FMUL_HALF
	fxch
	jmp 9f
2:	fldpi                           /* b < 0 */
	FMUL_HALF
	fchs
	fxch
	fabs
	jmp 9f
3:	fld %st(0)                      /* scale both parts by the larger */
	fabs                            /* exponent so that the squares */
	fld %st(2)                      /* cannot overflow */
	fabs                            /* |b|, |a|, a, b */
	fucomi %st(1), %st
	jb 41f
	fxch
41:	fstp %st(0)                     /* M, a, b */
	fxam
	fnstsw %ax
	andl $0x4500, %eax
	cmpl $FX_INF, %eax
	jne 42f
	fstp %st(0)                     /* an infinite part */
	pushl $0x7F800000
	flds (%esp)                     /* +inf, a, b */
	addl $4, %esp
	jmp 43f
42:	fxtract
	fstp %st(0)                     /* e, a, b */
	fchs
	fld %st(1)
	fscale
	fmul %st(0), %st                /* a'^2, -e, a, b */
	fxch
	fld %st(3)
	fscale
	fmul %st(0), %st                /* b'^2, -e, a'^2, a, b */
	faddp %st, %st(2)
	fxch
	fsqrt
	fxch
	fchs
	fxch
	fscale                          /* r, e, a, b */
	fstp %st(1)
43:	fxch %st(2)                     /* b, a, r */
	fxch                            /* a, b, r */
	fpatan                          /* theta, r */
	fxch
	jmp 9f
5:	fstp %st(1)                     /* a NaN: NaN in both */
	fld %st(0)
	jmp 9f
6:	fstp %st(0)                     /* b NaN */
	fld %st(0)
9:	fstpt FS_A(%esp)
	fstpt FS_B(%esp)
	frstor FS_SAVE(%esp)
	fldt FS_B(%esp)
	fldt FS_A(%esp)
	addl $FS_FRAME, %esp
	ret
ENDF(ComplexRToP)

/* ComplexPToR: (r cos theta, r sin theta) from r in ST0 and theta in ST1.
 * For an infinite r a factor of exactly 0 gives 0 instead of a NaN.  The
 * whole floating-point state is saved and restored as in ComplexRToP. */
FUNC(ComplexPToR)
	subl $FS_FRAME, %esp
	fstpt FS_A(%esp)
	fstpt FS_B(%esp)
	fnsave FS_SAVE(%esp)
	fldt FS_B(%esp)
	call xm_sincos                  /* cos, sin */
	fldt FS_A(%esp)                 /* r, cos, sin */
	call xm_isinf
	testl %eax, %eax
	jz 3f
	fldz                            /* infinite r: test for exact zeros */
	fucomip %st(2), %st
	jne 1f
	jp 1f
	fmulp %st, %st(2)               /* cos = 0: cos, r sin */
	fabs                            /* real part 0 */
	jmp 9f
1:	fldz
	fucomip %st(3), %st
	jne 3f
	jp 3f
	fmulp %st, %st(1)               /* sin = 0: r cos, sin = 0 */
	fxch
	fabs
	fxch
	jmp 9f
3:	fld %st(0)                      /* r, r, cos, sin */
	fmulp %st, %st(3)               /* r, cos, r sin */
	fmulp %st, %st(1)               /* r cos, r sin */
9:	fstpt FS_A(%esp)
	fstpt FS_B(%esp)
	frstor FS_SAVE(%esp)
	fldt FS_B(%esp)
	fldt FS_A(%esp)
	addl $FS_FRAME, %esp
	ret
ENDF(ComplexPToR)

/* ComplexDivide: ((ac + bd) + i(bc - ad)) / (c^2 + d^2), dividend a + ib in
 * ST2/ST3, divisor c + id in ST0/ST1.  The operands go to memory, so no more
 * than the four argument registers are used. */
#define DV_C 0
#define DV_D 12
#define DV_A 24
#define DV_B 36
FUNC(ComplexDivide)
	subl $48, %esp
	fstpt DV_C(%esp)
	fstpt DV_D(%esp)
	fstpt DV_A(%esp)
	fstpt DV_B(%esp)
	fldt DV_C(%esp)
	fmul %st(0), %st
	fldt DV_D(%esp)
	fmul %st(0), %st
	faddp                           /* den */
	fldt DV_A(%esp)
	fldt DV_C(%esp)
	fmulp                           /* ac, den */
	fldt DV_B(%esp)
	fldt DV_D(%esp)
	fmulp
	faddp                           /* ac + bd, den */
	fdiv %st(1), %st                /* re, den */
	fldt DV_B(%esp)
	fldt DV_C(%esp)
	fmulp                           /* bc, re, den */
	fldt DV_A(%esp)
	fldt DV_D(%esp)
	fmulp                           /* ad, bc, re, den */
	fsubr %st(1), %st
	fstp %st(1)                     /* bc - ad, re, den */
	fdiv %st(2), %st
	fstp %st(2)                     /* re, im */
	addl $48, %esp
	ret
ENDF(ComplexDivide)

/* ComplexRecip: (a - ib) / (a^2 + b^2). */
FUNC(ComplexRecip)
	fld %st(0)
	fmul %st(0), %st
	fld %st(2)
	fmul %st(0), %st
	faddp                           /* den, a, b */
	fxch
	fdiv %st(1), %st                /* a/den, den, b */
	fxch %st(2)
	fdiv %st(1), %st                /* b/den, den, a/den */
	fchs
	fstp %st(1)
	fxch
	ret
ENDF(ComplexRecip)

/* xm_trig_parts: a in ST0, b in ST1 -> cos a, sin a, cosh b, sinh b. */
LFUNC(xm_trig_parts)
	fxch
	fld %st(0)
	call Cosh                       /* ch, b, a */
	fxch
	call Sinh                       /* sh, ch, a */
	fxch %st(2)
	call xm_sincos                  /* cos a, sin a, ch, sh */
	ret
ENDF(xm_trig_parts)

/* xm_hyp_parts: a in ST0, b in ST1 -> cos b, sin b, cosh a, sinh a. */
LFUNC(xm_hyp_parts)
	fxch
	call xm_trig_parts
	ret
ENDF(xm_hyp_parts)

/* ComplexSin: sin a cosh b + i cos a sinh b. */
FUNC(ComplexSin)
	call xm_trig_parts
	fmulp %st, %st(3)               /* sin a, ch, cos a sh */
	fmulp %st, %st(1)
	ret
ENDF(ComplexSin)

/* ComplexCos: cos a cosh b - i sin a sinh b. */
FUNC(ComplexCos)
	call xm_trig_parts
	fmulp %st, %st(2)               /* sin a, cos a ch, sh */
	fmulp %st, %st(2)               /* cos a ch, sin a sh */
	fxch
	fchs
	fxch
	ret
ENDF(ComplexCos)

/* ComplexSinh: sinh a cos b + i cosh a sin b. */
FUNC(ComplexSinh)
	call xm_hyp_parts               /* cos b, sin b, cha, sha */
	fmulp %st, %st(3)               /* sin b, cha, sha cos b */
	fmulp %st, %st(1)               /* cha sin b, sha cos b */
	fxch
	ret
ENDF(ComplexSinh)

/* ComplexCosh: cosh a cos b + i sinh a sin b. */
FUNC(ComplexCosh)
	call xm_hyp_parts
	fmulp %st, %st(2)
	fmulp %st, %st(2)
	ret
ENDF(ComplexCosh)

/* ComplexTan: (sin 2a + i sinh 2b) / (cos 2a + cosh 2b); where cosh 2b
 * overflows the imaginary part is +-1. */
FUNC(ComplexTan)
	fadd %st(0), %st
	fxch
	fadd %st(0), %st
	fxch
	call xm_trig_parts              /* cos 2a, sin 2a, ch, sh */
	faddp %st, %st(2)               /* sin 2a, d, sh */
	fdiv %st(1), %st                /* re, d, sh */
	fxch %st(2)                     /* sh, d, re */
	call xm_quot_or_sign            /* im, re */
	fxch
	ret
ENDF(ComplexTan)

/* ComplexTanh: (sinh 2a + i sin 2b) / (cosh 2a + cos 2b); where cosh 2a
 * overflows the real part is +-1. */
FUNC(ComplexTanh)
	fadd %st(0), %st
	fxch
	fadd %st(0), %st
	fxch
	call xm_hyp_parts               /* cos 2b, sin 2b, ch, sh */
	faddp %st, %st(2)               /* sin 2b, d, sh */
	fdiv %st(1), %st                /* im, d, sh */
	fxch %st(2)                     /* sh, d, im */
	call xm_quot_or_sign            /* re, im */
	ret
ENDF(ComplexTanh)

/* xm_quot_or_sign: n, d, x -> n/d, x; when d is infinite, +-1 with the sign
 * of n instead (n/d would be inf/inf). */
LFUNC(xm_quot_or_sign)
	fxch
	call xm_isinf
	fxch
	testl %eax, %eax
	jnz 1f
	fdiv %st(1), %st
	fstp %st(1)
	ret
1:	fxam
	fnstsw %ax
	fstp %st(0)
	fstp %st(0)
	fld1
	testl $FX_SIGN, %eax
	jz 2f
	fchs
2:	ret
ENDF(xm_quot_or_sign)

/* ComplexCot: the reciprocal of the tangent. */
FUNC(ComplexCot)
	call ComplexTan
	jmp ComplexRecip
ENDF(ComplexCot)

/* ComplexSincos: cos z in ST0/ST1, sin z in ST2/ST3. */
FUNC(ComplexSincos)
	call xm_trig_parts              /* c, s, ch, sh */
	fld %st(0)
	fmul %st(4), %st                /* c sh */
	fld %st(2)
	fmul %st(4), %st                /* s ch, c sh, c, s, ch, sh */
	fxch %st(4)                     /* ch, c sh, c, s, s ch, sh */
	fmulp %st, %st(2)               /* c sh, c ch, s, s ch, sh */
	fxch %st(4)                     /* sh, c ch, s, s ch, c sh */
	fmulp %st, %st(2)               /* c ch, s sh, s ch, c sh */
	fxch
	fchs
	fxch
	ret
ENDF(ComplexSincos)

/* ComplexSinc: sin z / z; exactly 1 for z = 0. */
FUNC(ComplexSinc)
	fldz
	fucomip %st(1), %st
	jne 1f
	jp 1f
	fldz
	fucomip %st(2), %st
	jne 1f
	jp 1f
	fstp %st(0)
	fstp %st(0)
	fldz
	fld1
	ret
1:	subl $24, %esp                  /* z kept in memory */
	fld %st(0)
	fstpt (%esp)
	fld %st(1)
	fstpt 12(%esp)
	call ComplexSin                 /* sa, sb */
	fldt 12(%esp)
	fldt (%esp)                     /* a, b, sa, sb */
	addl $24, %esp
	jmp ComplexDivide
ENDF(ComplexSinc)

/* xm_getman1: x -> significand, exponent (fxtract); a zero gives itself
 * and 0. */
LFUNC(xm_getman1)
	fxam
	fnstsw %ax
	andl $0x4500, %eax
	cmpl $FX_ZERO, %eax
	je 1f
	fxtract
	ret
1:	fldz
	fxch
	ret
ENDF(xm_getman1)

/* ComplexGetman: significand of a in ST0 and of b in ST1, the exponents in
 * ST2 and ST3. */
FUNC(ComplexGetman)
	call xm_getman1                 /* ma, ea, b */
	fxch %st(2)
	call xm_getman1                 /* mb, eb, ea, ma */
	fxch %st(3)                     /* ma, eb, ea, mb */
	fxch                            /* eb, ma, ea, mb */
	fxch %st(3)                     /* mb, ma, ea, eb */
	fxch                            /* ma, mb, ea, eb */
	ret
ENDF(ComplexGetman)

/* xm_clog: ln z in polar form: (ln r, theta). */
LFUNC(xm_clog)
	call ComplexRToP
	fldln2
	fxch
	fyl2x
	ret
ENDF(xm_clog)

/* xm_csqrt: sqrt z in polar form: square root of the magnitude, half the
 * angle. */
LFUNC(xm_csqrt)
	call ComplexRToP
	fsqrt
	fxch
	FMUL_HALF
	fxch
	jmp ComplexPToR
ENDF(xm_csqrt)

/* xm_sqrt_1mz2: a, b -> sqrt(1 - z^2), a, b */
LFUNC(xm_sqrt_1mz2)
	fld %st(0)
	fmul %st(2), %st
	fadd %st(0), %st
	fchs                            /* -2ab, a, b */
	fld %st(1)
	fmul %st(0), %st                /* a^2, -2ab, a, b */
	fld %st(3)
	fmul %st(0), %st                /* b^2, a^2, -2ab, a, b */
	fsub %st(1), %st
	fstp %st(1)                     /* b^2 - a^2, -2ab, a, b */
	fld1
	faddp
	jmp xm_csqrt
ENDF(xm_sqrt_1mz2)

/* xm_mi_log: w, a, b -> -i ln w = (theta, -ln r), the a and b dropped. */
LFUNC(xm_mi_log)
	call xm_clog
	fchs
	fxch
	fstp %st(2)
	fstp %st(2)
	ret
ENDF(xm_mi_log)

/* ComplexAsin: -i ln(iz + sqrt(1 - z^2)). */
FUNC(ComplexAsin)
	call xm_sqrt_1mz2               /* s1, s2, a, b */
	fsub %st(3), %st                /* s1 - b */
	fxch
	fadd %st(2), %st                /* s2 + a, s1 - b, a, b */
	fxch
	jmp xm_mi_log
ENDF(ComplexAsin)

/* ComplexAcos: -i ln(z + i sqrt(1 - z^2)). */
FUNC(ComplexAcos)
	call xm_sqrt_1mz2               /* s1, s2, a, b */
	fadd %st(3), %st                /* s1 + b */
	fxch
	fsubr %st(2), %st               /* a - s2, s1 + b, a, b */
	jmp xm_mi_log
ENDF(ComplexAcos)

/* ComplexAsinh: -i asin(iz). */
FUNC(ComplexAsinh)
	fxch
	fchs                            /* iz = -b + ia */
	call ComplexAsin                /* p, q */
	fchs
	fxch                            /* q, -p */
	ret
ENDF(ComplexAsinh)

/* ComplexAcosh: i acos(z). */
FUNC(ComplexAcosh)
	call ComplexAcos                /* p, q */
	fxch
	fchs                            /* -q, p */
	ret
ENDF(ComplexAcosh)

/* ComplexAtanh: (ln(1 + z) - ln(1 - z)) / 2, logarithms in polar form. */
FUNC(ComplexAtanh)
	fld %st(1)
	fld %st(1)
	fld1
	faddp                           /* 1 + a, b, a, b */
	call xm_clog                    /* l1r, l1t, a, b */
	fxch %st(2)                     /* a, l1t, l1r, b */
	fld1
	fsub %st(1), %st
	fstp %st(1)                     /* 1 - a, l1t, l1r, b */
	fxch %st(3)
	fchs                            /* -b, l1t, l1r, 1 - a */
	fxch
	fxch %st(3)                     /* 1 - a, -b, l1r, l1t */
	call xm_clog                    /* l2r, l2t, l1r, l1t */
	fsubr %st(2), %st               /* l1r - l2r */
	fxch
	fsubr %st(3), %st               /* l1t - l2t, re, l1r, l1t */
	fxch
	fstp %st(2)
	fstp %st(2)
	FMUL_HALF
	fxch
	FMUL_HALF
	fxch
	ret
ENDF(ComplexAtanh)

/* ComplexAtan: -i atanh(iz); a zero real part is made +0 first. */
FUNC(ComplexAtan)
	fldz
	fucomip %st(1), %st
	jne 1f
	jp 1f
	fstp %st(0)
	fldz
1:	fxch
	fchs                            /* iz = -b + ia */
	call ComplexAtanh               /* p, q */
	fchs
	fxch                            /* q, -p */
	ret
ENDF(ComplexAtan)

/* ------------------------------------------------------------------ */
/* C-callable entries: pointers to ExtComplex {re, im} (24 bytes). */

#define CPLX_ENTRY(name, routine) \
	FUNC(name) movl 4(%esp), %eax; fldt 12(%eax); fldt (%eax); call routine; \
	movl 8(%esp), %eax; fstpt (%eax); fstpt 12(%eax); ret; ENDF(name)

CPLX_ENTRY(ExtComplexRToP, ComplexRToP)
CPLX_ENTRY(ExtComplexPToR, ComplexPToR)
CPLX_ENTRY(ExtComplexRecip, ComplexRecip)
CPLX_ENTRY(ExtComplexSin, ComplexSin)
CPLX_ENTRY(ExtComplexCos, ComplexCos)
CPLX_ENTRY(ExtComplexTan, ComplexTan)
CPLX_ENTRY(ExtComplexCot, ComplexCot)
CPLX_ENTRY(ExtComplexSinh, ComplexSinh)
CPLX_ENTRY(ExtComplexCosh, ComplexCosh)
CPLX_ENTRY(ExtComplexTanh, ComplexTanh)
CPLX_ENTRY(ExtComplexSinc, ComplexSinc)
CPLX_ENTRY(ExtComplexAsin, ComplexAsin)
CPLX_ENTRY(ExtComplexAcos, ComplexAcos)
CPLX_ENTRY(ExtComplexAsinh, ComplexAsinh)
CPLX_ENTRY(ExtComplexAcosh, ComplexAcosh)
CPLX_ENTRY(ExtComplexAtan, ComplexAtan)
CPLX_ENTRY(ExtComplexAtanh, ComplexAtanh)

/* void ExtComplexDivide(const ExtComplex* dividend, const ExtComplex* divisor, ExtComplex* out) */
FUNC(ExtComplexDivide)
	movl 4(%esp), %eax
	fldt 12(%eax)
	fldt (%eax)
	movl 8(%esp), %eax
	fldt 12(%eax)
	fldt (%eax)
	call ComplexDivide
	movl 12(%esp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	ret
ENDF(ExtComplexDivide)

/* void ExtComplexSincos(const ExtComplex* z, ExtComplex* cosOut, ExtComplex* sinOut) */
FUNC(ExtComplexSincos)
	movl 4(%esp), %eax
	fldt 12(%eax)
	fldt (%eax)
	call ComplexSincos
	movl 8(%esp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	movl 12(%esp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	ret
ENDF(ExtComplexSincos)

/* void ExtComplexGetman(const ExtComplex* z, ExtComplex* mant, ExtComplex* expo) */
FUNC(ExtComplexGetman)
	movl 4(%esp), %eax
	fldt 12(%eax)
	fldt (%eax)
	call ComplexGetman
	movl 8(%esp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	movl 12(%esp), %eax
	fstpt (%eax)
	fstpt 12(%eax)
	ret
ENDF(ExtComplexGetman)

	.section .note.GNU-stack, "", @progbits
