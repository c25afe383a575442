/* Decimal records: ExtToDecimal, DecimalToExt and the powers-of-ten table.
 *
 * Both directions round to nearest (ties to even) exactly.  The value is
 * scaled with a 128-bit approximation of the power of ten (exact for 10^0 to
 * 10^55, within 2^-126 beyond); only when the scaled value lies so close to a
 * rounding boundary that this error could matter is the decision taken again
 * with exact multi-precision integers (A * 5^j * 2^s against B).
 *
 * Decimal record, 14 bytes: 18 packed BCD digits (byte 0 holds the two least
 * significant), a sign byte (0x80 negative), a signed 16-bit decimal
 * exponent (0x7FFF infinity, 0x7FFE NaN) and a 16-bit digit count.  The value
 * is digits * 10^exponent. */

#include "extmath_asm.inc"

	.text

LFUNC(xm_thunk_bx)
	movl (%esp), %ebx
	ret
ENDF(xm_thunk_bx)

/* ------------------------------------------------------------------ */
/* Multi-precision helpers.  Numbers are arrays of 32-bit limbs, least
 * significant first. */

/* void xm_mul(const uint32* a, int32 na, const uint32* b, int32 nb, uint32* out)
 * out[0 .. na+nb-1] = a * b; nb >= 1. */
LFUNC(xm_mul)
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $8, %esp                   /* -16: i, -20: inner count */
	movl 24(%ebp), %edi
	movl 12(%ebp), %ecx
	addl 20(%ebp), %ecx
	xorl %eax, %eax
	rep stosl
	movl $0, -16(%ebp)
1:	movl -16(%ebp), %eax
	cmpl 12(%ebp), %eax
	jge 4f
	movl 8(%ebp), %edx
	movl (%edx,%eax,4), %ebx        /* a[i] */
	movl 24(%ebp), %edi
	leal (%edi,%eax,4), %edi        /* &out[i] */
	movl 16(%ebp), %esi
	movl 20(%ebp), %eax
	movl %eax, -20(%ebp)
	xorl %ecx, %ecx                 /* carry */
2:	movl (%esi), %eax
	mull %ebx
	addl %ecx, %eax
	adcl $0, %edx
	addl %eax, (%edi)
	adcl $0, %edx
	movl %edx, %ecx
	addl $4, %esi
	addl $4, %edi
	decl -20(%ebp)
	jnz 2b
	movl %ecx, (%edi)
	incl -16(%ebp)
	jmp 1b
4:	addl $8, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
ENDF(xm_mul)

/* xm_bits32: ESI = limbs, EDI = limb count, EAX = bit position (may be
 * negative) -> EAX = the 32 bits starting at that position (bits outside
 * the number are 0).  Clobbers ECX, EDX. */
LFUNC(xm_bits32)
	testl %eax, %eax
	js 3f
	movl %eax, %ecx
	shrl $5, %eax
	andl $31, %ecx
	cmpl %edi, %eax
	jae 5f
	movl (%esi,%eax,4), %edx
	incl %eax
	cmpl %edi, %eax
	jae 1f
	movl (%esi,%eax,4), %eax
	shrdl %cl, %eax, %edx
	movl %edx, %eax
	ret
1:	shrl %cl, %edx
	movl %edx, %eax
	ret
3:	cmpl $-32, %eax
	jle 5f
	testl %edi, %edi
	jz 5f
	movl %eax, %ecx
	negl %ecx
	movl (%esi), %eax
	shll %cl, %eax
	ret
5:	xorl %eax, %eax
	ret
ENDF(xm_bits32)

/* xm_anybelow: ESI = limbs, EDI = limb count, EAX = bit position ->
 * EAX = 1 when a bit below that position is set, else 0.  Clobbers ECX, EDX. */
LFUNC(xm_anybelow)
	testl %eax, %eax
	jle 5f
	pushl %ebx
	movl %eax, %ecx
	shrl $5, %eax                   /* whole limbs below */
	andl $31, %ecx
	xorl %edx, %edx
	movl %eax, %ebx
	cmpl %edi, %ebx
	jbe 1f
	movl %edi, %ebx
1:	testl %ebx, %ebx
	jz 2f
	decl %ebx
	orl (%esi,%ebx,4), %edx
	jmp 1b
2:	cmpl %edi, %eax
	jae 3f
	testl %ecx, %ecx
	jz 3f
	movl (%esi,%eax,4), %ebx
	negl %ecx
	addl $32, %ecx
	shll %cl, %ebx
	orl %ebx, %edx
3:	popl %ebx
	xorl %eax, %eax
	testl %edx, %edx
	setnz %al
	ret
5:	xorl %eax, %eax
	ret
ENDF(xm_anybelow)

/* int32 xm_shr128(const uint32* z, int32 nz, int32 s, uint32* w)
 * w[0..3] = the 128 bits of z starting at bit s; returns 1 when a bit of z
 * below s is set (the sticky bit), else 0. */
LFUNC(xm_shr128)
	pushl %ebx
	pushl %esi
	pushl %edi
	movl 16(%esp), %esi
	movl 20(%esp), %edi
	movl 28(%esp), %ebx
	movl 24(%esp), %eax
	call xm_bits32
	movl %eax, (%ebx)
	movl 24(%esp), %eax
	addl $32, %eax
	call xm_bits32
	movl %eax, 4(%ebx)
	movl 24(%esp), %eax
	addl $64, %eax
	call xm_bits32
	movl %eax, 8(%ebx)
	movl 24(%esp), %eax
	addl $96, %eax
	call xm_bits32
	movl %eax, 12(%ebx)
	movl 24(%esp), %eax
	call xm_anybelow
	popl %edi
	popl %esi
	popl %ebx
	ret
ENDF(xm_shr128)

/* xm_mulsmall: ESI = limbs, EDI = limb count, EAX = factor -> the number is
 * multiplied in place and EDI updated.  Clobbers EAX, ECX, EDX. */
LFUNC(xm_mulsmall)
	pushl %ebx
	pushl %ebp
	movl %eax, %ebx
	xorl %ecx, %ecx
	xorl %ebp, %ebp
1:	cmpl %edi, %ebp
	jae 2f
	movl (%esi,%ebp,4), %eax
	mull %ebx
	addl %ecx, %eax
	adcl $0, %edx
	movl %eax, (%esi,%ebp,4)
	movl %edx, %ecx
	incl %ebp
	jmp 1b
2:	testl %ecx, %ecx
	jz 3f
	movl %ecx, (%esi,%edi,4)
	incl %edi
3:	popl %ebp
	popl %ebx
	ret
ENDF(xm_mulsmall)

/* int32 xm_cmp5(const uint32 a[3], int32 j, int32 s, const uint32 b[3])
 * Compares a * 5^j * 2^s with b exactly: returns 1, 0 or -1.
 * a and b are positive, 0 <= j <= 5100. */
#define CMP_LIMBS 384
#define CMP_N 0
#define CMP_L (CMP_LIMBS * 4)
#define CMP_BL (CMP_L + 4)
#define CMP_NN (CMP_L + 8)
#define CMP_FRAME (CMP_L + 16)
LFUNC(xm_cmp5)
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $CMP_FRAME, %esp
	xorl %eax, %eax
	movl 12(%ebp), %ebx             /* j */
	cmpl $5100, %ebx
	ja 9f
	leal CMP_N(%esp), %esi
	movl 8(%ebp), %eax
	movl (%eax), %ecx
	movl %ecx, (%esi)
	movl 4(%eax), %ecx
	movl %ecx, 4(%esi)
	movl 8(%eax), %ecx
	movl %ecx, 8(%esi)
	movl $3, %edi
1:	cmpl $0, -4(%esi,%edi,4)        /* drop leading zero limbs */
	jne 2f
	decl %edi
	jnz 1b
	xorl %eax, %eax                 /* a = 0: not expected */
	jmp 9f
2:	cmpl $13, %ebx
	jl 3f
	movl $1220703125, %eax          /* 5^13 */
	call xm_mulsmall
	subl $13, %ebx
	jmp 2b
3:	testl %ebx, %ebx
	jz 4f
	movl $1, %eax
31:	leal (%eax,%eax,4), %eax
	decl %ebx
	jnz 31b
	call xm_mulsmall
4:	/* L = bit length of a * 5^j */
	movl %edi, CMP_NN(%esp)
	movl -4(%esi,%edi,4), %eax
	bsrl %eax, %ecx
	leal -1(%edi), %eax
	shll $5, %eax
	leal 1(%eax,%ecx), %eax
	movl %eax, CMP_L(%esp)
	/* l = bit length of b */
	movl 20(%ebp), %edx
	movl $3, %ecx
5:	movl -4(%edx,%ecx,4), %eax
	testl %eax, %eax
	jnz 51f
	decl %ecx
	jnz 5b
	movl $1, %eax                   /* b = 0 */
	jmp 9f
51:	bsrl %eax, %eax
	leal -1(%ecx), %ecx
	shll $5, %ecx
	leal 1(%ecx,%eax), %eax
	movl %eax, CMP_BL(%esp)
	/* compare the positions of the leading bits: L + s against l */
	movl CMP_L(%esp), %ecx
	addl 16(%ebp), %ecx
	cmpl %eax, %ecx
	jg 7f
	jl 8f
	/* same position: compare the leading 96 bits, then the rest */
	movl $32, %ebx
6:	leal CMP_N(%esp), %esi
	movl CMP_NN(%esp), %edi
	movl CMP_L(%esp), %eax
	subl %ebx, %eax
	call xm_bits32
	pushl %eax
	movl 20(%ebp), %esi
	movl $3, %edi
	movl CMP_BL+4(%esp), %eax
	subl %ebx, %eax
	call xm_bits32
	popl %ecx
	cmpl %eax, %ecx
	ja 7f
	jb 8f
	addl $32, %ebx
	cmpl $96, %ebx
	jbe 6b
	leal CMP_N(%esp), %esi
	movl CMP_NN(%esp), %edi
	movl CMP_L(%esp), %eax
	subl $96, %eax
	call xm_anybelow
	jmp 9f
7:	movl $1, %eax
	jmp 9f
8:	movl $-1, %eax
9:	addl $CMP_FRAME, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
ENDF(xm_cmp5)

/* int32 xm_pow10(int32 k, uint32 out[5]), -4984 <= k <= 4983
 * out[0..3] = normalized 128-bit significand M, out[4] = E, with
 * 10^k = M * 2^E exactly (returns 1, 0 <= k <= 55) or within 2^-126
 * relative (returns 0). */
LFUNC(xm_pow10)
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $44, %esp                  /* 8-limb product at -48(%ebp) */
	GOT_EBX
	movl 8(%ebp), %eax
	addl $4984, %eax
	movl %eax, %ecx
	imull $37450, %eax, %eax
	shrl $21, %eax                  /* a + 89 = (k + 4984) / 56 */
	imull $56, %eax, %edx
	subl %edx, %ecx                 /* b = k - 56a */
	leal (%ecx,%ecx,4), %ecx
	leal ExtPow10Fine@GOTOFF(%ebx,%ecx,4), %esi
	cmpl $89, %eax
	jne 2f
	movl 12(%ebp), %edi
	movl $5, %ecx
	rep movsl
	movl $1, %eax
	jmp 9f
2:	leal (%eax,%eax,4), %eax
	leal ExtPow10Coarse@GOTOFF(%ebx,%eax,4), %edi
	leal -48(%ebp), %eax
	pushl %eax
	pushl $4
	pushl %edi
	pushl $4
	pushl %esi
	call xm_mul
	addl $20, %esp
	movl 16(%esi), %eax
	addl 16(%edi), %eax             /* E_fine + E_coarse */
	movl 12(%ebp), %edi
	movl -20(%ebp), %edx            /* product limb 7 */
	testl %edx, %edx
	jns 3f
	addl $128, %eax
	movl %eax, 16(%edi)
	movl -32(%ebp), %eax
	movl %eax, (%edi)
	movl -28(%ebp), %eax
	movl %eax, 4(%edi)
	movl -24(%ebp), %eax
	movl %eax, 8(%edi)
	movl %edx, 12(%edi)
	xorl %eax, %eax
	jmp 9f
3:	addl $127, %eax                 /* take bits 127 .. 254 */
	movl %eax, 16(%edi)
	movl -36(%ebp), %eax
	movl -32(%ebp), %edx
	shldl $1, %eax, %edx
	movl %edx, (%edi)
	movl -32(%ebp), %eax
	movl -28(%ebp), %edx
	shldl $1, %eax, %edx
	movl %edx, 4(%edi)
	movl -28(%ebp), %eax
	movl -24(%ebp), %edx
	shldl $1, %eax, %edx
	movl %edx, 8(%edi)
	movl -24(%ebp), %eax
	movl -20(%ebp), %edx
	shldl $1, %eax, %edx
	movl %edx, 12(%edi)
	xorl %eax, %eax
9:	addl $44, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
ENDF(xm_pow10)

/* xm_bcd4: EAX = value, ECX = output -> four packed BCD bytes of the value's
 * eight lowest digits (least significant byte first); EAX = value / 10^8.
 * Clobbers ECX, EDX. */
LFUNC(xm_bcd4)
	pushl %ebx
	pushl %esi
	pushl %edi
	movl %ecx, %edi
	movl $4, %esi
1:	movl %eax, %ebx
	movl $0x51EB851F, %edx
	mull %edx
	shrl $5, %edx                   /* v / 100 */
	imull $100, %edx, %eax
	subl %eax, %ebx                 /* v % 100 */
	movl %edx, %eax
	imull $205, %ebx, %ecx
	shrl $11, %ecx                  /* tens */
	imull $10, %ecx, %edx
	subl %edx, %ebx                 /* ones */
	shll $4, %ecx
	orl %ebx, %ecx
	movb %cl, (%edi)
	incl %edi
	decl %esi
	jnz 1b
	popl %edi
	popl %esi
	popl %ebx
	ret
ENDF(xm_bcd4)

/* ------------------------------------------------------------------ */
/* ExtToDecimal (int32 digits, DecimalRec* rec), value in ST0 (kept).
 * digits > 0: that many significant digits (at most 17);
 * digits <= 0: digits down to 10^digits (exponent = digits), unless that
 * takes more than 17 significant digits, then 17 significant digits. */
#define TD_XBUF -28
#define TD_M2 -36
#define TD_Q -40
#define TD_DEXP -44
#define TD_K -48
#define TD_N -52
#define TD_MODE -56
#define TD_SIGN -60
#define TD_REDO -64
#define TD_EXACT -68
#define TD_STICKY -72
#define TD_DIG -76
#define TD_P5 -96
#define TD_Z -136
#define TD_W -152
#define TD_A3 -164
#define TD_B3 -176
#define TD_FRAME 192
FUNC(ExtToDecimal)
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $TD_FRAME, %esp
	GOT_EBX
	fld %st(0)
	fstpt TD_XBUF(%ebp)
	movl 8(%ebp), %eax
	cmpl $-10000, %eax
	jge 1f
	movl $-10000, %eax
1:	movl %eax, TD_DIG(%ebp)
	movzbl TD_XBUF+9(%ebp), %eax
	andl $0x80, %eax
	movl %eax, TD_SIGN(%ebp)
	movzwl TD_XBUF+8(%ebp), %ecx
	andl $0x7FFF, %ecx
	movl TD_XBUF(%ebp), %eax
	movl TD_XBUF+4(%ebp), %edx
	cmpl $0x7FFF, %ecx
	je .Ltd_infnan
	testl %ecx, %ecx
	jz 2f
	testl %edx, %edx
	jns .Ltd_nan                    /* unnormal: not a number the processor accepts */
	jmp .Ltd_norm
2:	movl %eax, %esi                 /* zero or denormal */
	orl %edx, %esi
	jz .Ltd_zero
	movl $1, %ecx
	testl %edx, %edx
	jnz 3f
	movl %eax, %edx
	xorl %eax, %eax
	subl $32, %ecx
3:	bsrl %edx, %esi
	negl %esi
	addl $31, %esi                  /* leading zeros */
	subl %esi, %ecx
	xchgl %esi, %ecx
	shldl %cl, %eax, %edx
	shll %cl, %eax
	movl %esi, %ecx
.Ltd_norm:
	/* x = m * 2^q, bit 63 of m set */
	movl %eax, TD_M2(%ebp)
	movl %edx, TD_M2+4(%ebp)
	subl $16446, %ecx
	movl %ecx, TD_Q(%ebp)
	leal 63(%ecx), %eax             /* floor(log2 x) */
	movl $1292913986, %edx          /* log10(2) * 2^32 */
	imull %edx
	movl %edx, TD_DEXP(%ebp)        /* floor(log10 x) or one less */
	movl TD_DIG(%ebp), %eax
	testl %eax, %eax
	jle 4f
	cmpl $17, %eax
	jle 5f
	movl $17, %eax
	jmp 5f
4:	movl TD_DEXP(%ebp), %ecx        /* digits down to 10^digits */
	incl %ecx
	subl %eax, %ecx
	cmpl $17, %ecx
	jge 41f
	negl %eax
	movl %eax, TD_K(%ebp)
	movl $0, TD_MODE(%ebp)
	jmp .Ltd_scale
41:	movl $17, %eax
5:	movl %eax, TD_N(%ebp)
	movl $1, TD_MODE(%ebp)
	decl %eax
	subl TD_DEXP(%ebp), %eax
	movl %eax, TD_K(%ebp)
.Ltd_scale:
	movl $0, TD_REDO(%ebp)
.Ltd_again:
	leal TD_P5(%ebp), %eax
	pushl %eax
	pushl TD_K(%ebp)
	call xm_pow10
	addl $8, %esp
	movl %eax, TD_EXACT(%ebp)
	leal TD_Z(%ebp), %eax
	pushl %eax
	pushl $4
	leal TD_P5(%ebp), %eax
	pushl %eax
	pushl $2
	leal TD_M2(%ebp), %eax
	pushl %eax
	call xm_mul
	addl $20, %esp
	/* y = x * 10^k = Z * 2^(q + E); W = the integer part and 64 fraction bits */
	movl TD_Q(%ebp), %eax
	addl TD_P5+16(%ebp), %eax
	negl %eax
	subl $64, %eax
	leal TD_W(%ebp), %ecx
	pushl %ecx
	pushl %eax
	pushl $6
	leal TD_Z(%ebp), %ecx
	pushl %ecx
	call xm_shr128
	addl $16, %esp
	movl %eax, TD_STICKY(%ebp)
	movl TD_W+8(%ebp), %esi         /* D = integer part */
	movl TD_W+12(%ebp), %edi
	movl TD_W(%ebp), %eax           /* fraction */
	movl TD_W+4(%ebp), %edx
	cmpl $0, TD_EXACT(%ebp)
	je 6f
	cmpl $0x80000000, %edx
	ja .Ltd_up
	jb .Ltd_down
	orl TD_STICKY(%ebp), %eax
	jnz .Ltd_up
	jmp .Ltd_tie
6:	cmpl $0x80000000, %edx          /* within 16 units of 2^-64 of one half? */
	jne 61f
	cmpl $16, %eax
	jbe .Ltd_slow
	jmp .Ltd_up
61:	cmpl $0x7FFFFFFF, %edx
	jne 62f
	cmpl $0xFFFFFFF0, %eax
	jae .Ltd_slow
	jmp .Ltd_down
62:	cmpl $0x80000000, %edx
	ja .Ltd_up
	jmp .Ltd_down
.Ltd_slow:
	/* 2D + 1 in EAX, EDX, ECX */
	movl %esi, %eax
	movl %edi, %edx
	movl %edi, %ecx
	shrl $31, %ecx
	shldl $1, %eax, %edx
	addl %eax, %eax
	orl $1, %eax
	cmpl $0, TD_K(%ebp)
	jl 7f
	/* k >= 0: m * 5^k * 2^(q+k+1) against 2D + 1 */
	movl %eax, TD_B3(%ebp)
	movl %edx, TD_B3+4(%ebp)
	movl %ecx, TD_B3+8(%ebp)
	movl TD_M2(%ebp), %eax
	movl %eax, TD_A3(%ebp)
	movl TD_M2+4(%ebp), %eax
	movl %eax, TD_A3+4(%ebp)
	movl $0, TD_A3+8(%ebp)
	leal TD_B3(%ebp), %eax
	pushl %eax
	movl TD_Q(%ebp), %eax
	addl TD_K(%ebp), %eax
	incl %eax
	pushl %eax
	pushl TD_K(%ebp)
	leal TD_A3(%ebp), %eax
	pushl %eax
	call xm_cmp5
	addl $16, %esp
	jmp 71f
7:	/* k < 0: (2D + 1) * 5^-k * 2^(-k-q-1) against m, reversed */
	movl %eax, TD_A3(%ebp)
	movl %edx, TD_A3+4(%ebp)
	movl %ecx, TD_A3+8(%ebp)
	movl TD_M2(%ebp), %eax
	movl %eax, TD_B3(%ebp)
	movl TD_M2+4(%ebp), %eax
	movl %eax, TD_B3+4(%ebp)
	movl $0, TD_B3+8(%ebp)
	leal TD_B3(%ebp), %eax
	pushl %eax
	movl TD_K(%ebp), %eax
	negl %eax
	subl TD_Q(%ebp), %eax
	decl %eax
	pushl %eax
	movl TD_K(%ebp), %eax
	negl %eax
	pushl %eax
	leal TD_A3(%ebp), %eax
	pushl %eax
	call xm_cmp5
	addl $16, %esp
	negl %eax
71:	testl %eax, %eax
	jg .Ltd_up
	jl .Ltd_down
.Ltd_tie:
	testl $1, %esi
	jz .Ltd_down
.Ltd_up:
	addl $1, %esi
	adcl $0, %edi
.Ltd_down:
	cmpl $0, TD_MODE(%ebp)
	je 8f
	movl TD_N(%ebp), %eax           /* D must stay below 10^n */
	leal xm_pow10u64@GOTOFF(%ebx,%eax,8), %ecx
	cmpl 4(%ecx), %edi
	ja 72f
	jb 73f
	cmpl (%ecx), %esi
	jb 73f
72:	cmpl $0, TD_REDO(%ebp)
	jne 73f
	movl $1, TD_REDO(%ebp)          /* the estimate was one low, or rounding */
	incl TD_DEXP(%ebp)              /* carried into the next power of ten */
	decl TD_K(%ebp)
	jmp .Ltd_again
73:	movl TD_N(%ebp), %eax
	jmp .Ltd_emit
8:	xorl %eax, %eax                 /* fixed: count the digits */
81:	cmpl $19, %eax
	jae .Ltd_emit
	leal xm_pow10u64@GOTOFF(%ebx,%eax,8), %ecx
	cmpl 4(%ecx), %edi
	ja 82f
	jb .Ltd_emit
	cmpl (%ecx), %esi
	jb .Ltd_emit
82:	incl %eax
	jmp 81b

.Ltd_infnan:
	cmpl $0x80000000, %edx
	jne .Ltd_nan
	testl %eax, %eax
	jne .Ltd_nan
	movl $-0x7FFF, TD_K(%ebp)
	jmp .Ltd_special
.Ltd_nan:
	movl $-0x7FFE, TD_K(%ebp)
	jmp .Ltd_special
.Ltd_zero:
	movl TD_DIG(%ebp), %eax
	testl %eax, %eax
	jle 9f
	xorl %eax, %eax
9:	negl %eax
	movl %eax, TD_K(%ebp)
.Ltd_special:
	xorl %esi, %esi
	xorl %edi, %edi
	xorl %eax, %eax

	/* EDI:ESI = digits, EAX = count, exponent = -k */
.Ltd_emit:
	movl 12(%ebp), %ecx
	movw %ax, 12(%ecx)
	movl TD_K(%ebp), %eax
	negl %eax
	movw %ax, 10(%ecx)
	movl TD_SIGN(%ebp), %eax
	movb %al, 9(%ecx)
	movl %esi, %eax
	movl %edi, %edx
	movl $1000000000, %esi
	divl %esi                       /* EAX = upper nine digits, EDX = lower nine */
	movl %eax, %edi
	movl %edx, %eax
	call xm_bcd4                    /* ECX = rec: bytes 0 .. 3 */
	movl %eax, %esi                 /* ninth digit */
	movl %edi, %eax
	xorl %edx, %edx
	movl $10, %ecx
	divl %ecx
	shll $4, %edx
	orl %esi, %edx
	movl 12(%ebp), %ecx
	movb %dl, 4(%ecx)
	addl $5, %ecx
	call xm_bcd4                    /* bytes 5 .. 8 */
	addl $TD_FRAME, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
ENDF(ExtToDecimal)

/* ------------------------------------------------------------------ */
/* xm_dec2flt (const DecimalRec* rec, int32 prec, int32 lsbmin, int32 topmax)
 * Pushes onto the register stack the record's value rounded to nearest to
 * prec significant bits, no bit below 2^lsbmin, infinity when the leading
 * bit would lie above 2^topmax. */
#define DT_SIGN -16
#define DT_EXP -20
#define DT_D -28
#define DT_M2 -36
#define DT_LZ -40
#define DT_EXACT -44
#define DT_LSB -48
#define DT_STICKY -52
#define DT_LO9 -56
#define DT_P5 -76
#define DT_Z -116
#define DT_W -132
#define DT_A3 -144
#define DT_B3 -156
#define DT_OUT -168
#define DT_FRAME 172
LFUNC(xm_dec2flt)
	pushl %ebp
	movl %esp, %ebp
	pushl %ebx
	pushl %esi
	pushl %edi
	subl $DT_FRAME, %esp
	GOT_EBX
	movl 8(%ebp), %esi
	movzbl 9(%esi), %eax
	andl $0x80, %eax
	movl %eax, DT_SIGN(%ebp)
	movswl 10(%esi), %eax
	cmpl $0x7FFF, %eax
	je .Ldt_inf
	cmpl $0x7FFE, %eax
	je .Ldt_nan
	movl %eax, DT_EXP(%ebp)
	/* digits 0 .. 8: bytes 0 .. 3 and the low nibble of byte 4 */
	movzbl 4(%esi), %eax
	andl $15, %eax
	movl $3, %ecx
1:	imull $100, %eax, %eax
	movzbl (%esi,%ecx), %edx
	movl %edx, %edi
	shrl $4, %edi
	imull $10, %edi, %edi
	andl $15, %edx
	addl %edi, %edx
	addl %edx, %eax
	decl %ecx
	jns 1b
	movl %eax, DT_LO9(%ebp)
	/* digits 9 .. 17: the high nibble of byte 4 and bytes 5 .. 8 */
	xorl %eax, %eax
	movl $8, %ecx
2:	imull $100, %eax, %eax
	movzbl (%esi,%ecx), %edx
	movl %edx, %edi
	shrl $4, %edi
	imull $10, %edi, %edi
	andl $15, %edx
	addl %edi, %edx
	addl %edx, %eax
	decl %ecx
	cmpl $5, %ecx
	jge 2b
	imull $10, %eax, %eax
	movzbl 4(%esi), %edx
	shrl $4, %edx
	addl %edx, %eax
	movl $1000000000, %edx
	mull %edx
	addl DT_LO9(%ebp), %eax
	adcl $0, %edx
	movl %eax, DT_D(%ebp)
	movl %edx, DT_D+4(%ebp)
	movl %eax, %ecx
	orl %edx, %ecx
	jz .Ldt_zero
	movl DT_EXP(%ebp), %ecx
	cmpl $4932, %ecx
	jg .Ldt_inf
	cmpl $-4970, %ecx
	jl .Ldt_zero
	/* extended target and |exponent| <= 27: the power is exact in the
	 * table, so one multiplication or division rounds correctly */
	cmpl $64, 12(%ebp)
	jne .Ldt_general
	movl %ecx, %eax
	cltd
	xorl %edx, %eax
	subl %edx, %eax                 /* |exponent| */
	cmpl $27, %eax
	ja .Ldt_general
	cmpl $0, .Lpow_ready@GOTOFF(%ebx)
	jne 3f
	pushl %eax
	call InitPowersOfTen
	popl %eax
3:	fildll DT_D(%ebp)
	fld1
	leal .Lpow_table@GOTOFF+12(%ebx), %edx
4:	testl %eax, %eax
	jz 5f
	testl $1, %eax
	jz 41f
	fldt (%edx)
	fmulp
41:	addl $12, %edx
	shrl $1, %eax
	jmp 4b
5:	cmpl $0, DT_EXP(%ebp)
	jl 51f
	fmulp
	jmp 52f
51:	fdivr %st(1), %st
	fstp %st(1)
52:	cmpl $0, DT_SIGN(%ebp)
	je .Ldt_exit
	fchs
	jmp .Ldt_exit

.Ldt_general:
	/* m = D shifted up to bit 63 */
	movl DT_D(%ebp), %eax
	movl DT_D+4(%ebp), %edx
	xorl %ecx, %ecx
	testl %edx, %edx
	jnz 6f
	movl %eax, %edx
	xorl %eax, %eax
	movl $32, %ecx
6:	bsrl %edx, %edi
	negl %edi
	addl $31, %edi
	addl %edi, %ecx
	movl %ecx, DT_LZ(%ebp)
	movl %edi, %ecx
	shldl %cl, %eax, %edx
	shll %cl, %eax
	movl %eax, DT_M2(%ebp)
	movl %edx, DT_M2+4(%ebp)
	leal DT_P5(%ebp), %eax
	pushl %eax
	pushl DT_EXP(%ebp)
	call xm_pow10
	addl $8, %esp
	movl %eax, DT_EXACT(%ebp)
	leal DT_Z(%ebp), %eax
	pushl %eax
	pushl $4
	leal DT_P5(%ebp), %eax
	pushl %eax
	pushl $2
	leal DT_M2(%ebp), %eax
	pushl %eax
	call xm_mul
	addl $20, %esp
	/* value = Z * 2^(E - lz); its leading bit lies at 2^vtop */
	movl DT_P5+16(%ebp), %ecx
	subl DT_LZ(%ebp), %ecx          /* E - lz */
	movl $190, %eax
	cmpl $0, DT_Z+20(%ebp)
	jns 7f
	incl %eax
7:	addl %ecx, %eax                 /* vtop */
	subl 12(%ebp), %eax
	incl %eax                       /* lsb = vtop - prec + 1 */
	cmpl 16(%ebp), %eax
	jge 71f
	movl 16(%ebp), %eax
71:	movl %eax, DT_LSB(%ebp)
	subl %ecx, %eax
	subl $64, %eax
	leal DT_W(%ebp), %ecx
	pushl %ecx
	pushl %eax
	pushl $6
	leal DT_Z(%ebp), %ecx
	pushl %ecx
	call xm_shr128
	addl $16, %esp
	movl %eax, DT_STICKY(%ebp)
	movl DT_W+8(%ebp), %esi         /* R = kept bits */
	movl DT_W+12(%ebp), %edi
	movl DT_W(%ebp), %eax           /* fraction of a unit */
	movl DT_W+4(%ebp), %edx
	cmpl $0, DT_EXACT(%ebp)
	je 8f
	cmpl $0x80000000, %edx
	ja .Ldt_up
	jb .Ldt_down
	orl DT_STICKY(%ebp), %eax
	jnz .Ldt_up
	jmp .Ldt_tie
8:	cmpl $0x80000000, %edx
	jne 81f
	cmpl $16, %eax
	jbe .Ldt_slow
	jmp .Ldt_up
81:	cmpl $0x7FFFFFFF, %edx
	jne 82f
	cmpl $0xFFFFFFF0, %eax
	jae .Ldt_slow
	jmp .Ldt_down
82:	cmpl $0x80000000, %edx
	ja .Ldt_up
	jmp .Ldt_down
.Ldt_slow:
	/* 2R + 1 in EAX, EDX, ECX; compare 2 * D * 10^e with (2R + 1) * 2^lsb */
	movl %esi, %eax
	movl %edi, %edx
	movl %edi, %ecx
	shrl $31, %ecx
	shldl $1, %eax, %edx
	addl %eax, %eax
	orl $1, %eax
	cmpl $0, DT_EXP(%ebp)
	jl 9f
	movl %eax, DT_B3(%ebp)
	movl %edx, DT_B3+4(%ebp)
	movl %ecx, DT_B3+8(%ebp)
	movl DT_D(%ebp), %eax
	movl %eax, DT_A3(%ebp)
	movl DT_D+4(%ebp), %eax
	movl %eax, DT_A3+4(%ebp)
	movl $0, DT_A3+8(%ebp)
	leal DT_B3(%ebp), %eax
	pushl %eax
	movl DT_EXP(%ebp), %eax
	incl %eax
	subl DT_LSB(%ebp), %eax
	pushl %eax
	pushl DT_EXP(%ebp)
	leal DT_A3(%ebp), %eax
	pushl %eax
	call xm_cmp5
	addl $16, %esp
	jmp 91f
9:	movl %eax, DT_A3(%ebp)
	movl %edx, DT_A3+4(%ebp)
	movl %ecx, DT_A3+8(%ebp)
	movl DT_D(%ebp), %eax
	movl %eax, DT_B3(%ebp)
	movl DT_D+4(%ebp), %eax
	movl %eax, DT_B3+4(%ebp)
	movl $0, DT_B3+8(%ebp)
	leal DT_B3(%ebp), %eax
	pushl %eax
	movl DT_LSB(%ebp), %eax
	subl DT_EXP(%ebp), %eax
	decl %eax
	pushl %eax
	movl DT_EXP(%ebp), %eax
	negl %eax
	pushl %eax
	leal DT_A3(%ebp), %eax
	pushl %eax
	call xm_cmp5
	addl $16, %esp
	negl %eax
91:	testl %eax, %eax
	jg .Ldt_up
	jl .Ldt_down
.Ldt_tie:
	testl $1, %esi
	jz .Ldt_down
.Ldt_up:
	addl $1, %esi
	adcl $0, %edi
	jnc .Ldt_down
	movl $0x80000000, %edi          /* carried out of 64 bits */
	incl DT_LSB(%ebp)
.Ldt_down:
	/* build the extended number R * 2^lsb */
	movl %esi, %eax
	orl %edi, %eax
	jz .Ldt_zero
	testl %edi, %edi
	jz 10f
	bsrl %edi, %ecx
	addl $32, %ecx
	jmp 11f
10:	bsrl %esi, %ecx                 /* ECX = index of the leading bit */
11:	movl DT_LSB(%ebp), %eax
	addl %ecx, %eax
	cmpl 20(%ebp), %eax
	jg .Ldt_inf
	addl $16383, %eax               /* biased exponent */
	jle 12f
	negl %ecx
	addl $63, %ecx
	movl %eax, %edx
	jmp 13f
12:	movl DT_LSB(%ebp), %ecx         /* denormal: unit at 2^-16445 */
	addl $16445, %ecx
	xorl %edx, %edx
13:	cmpl $32, %ecx
	jb 14f
	movl %esi, %edi
	xorl %esi, %esi
	subl $32, %ecx
14:	shldl %cl, %esi, %edi
	shll %cl, %esi
	movl %esi, DT_OUT(%ebp)
	movl %edi, DT_OUT+4(%ebp)
	jmp .Ldt_store
.Ldt_inf:
	movl $0, DT_OUT(%ebp)
	movl $0x80000000, DT_OUT+4(%ebp)
	movl $0x7FFF, %edx
	jmp .Ldt_store
.Ldt_nan:
	movl $-1, DT_OUT(%ebp)
	movl $-1, DT_OUT+4(%ebp)
	movl $0x7FFF, %edx
	jmp .Ldt_store
.Ldt_zero:
	movl $0, DT_OUT(%ebp)
	movl $0, DT_OUT+4(%ebp)
	xorl %edx, %edx
.Ldt_store:
	movl DT_SIGN(%ebp), %eax
	shll $8, %eax
	orl %eax, %edx
	movw %dx, DT_OUT+8(%ebp)
	fldt DT_OUT(%ebp)
.Ldt_exit:
	addl $DT_FRAME, %esp
	popl %edi
	popl %esi
	popl %ebx
	popl %ebp
	ret
ENDF(xm_dec2flt)

/* DecimalToExt (const DecimalRec* rec) -> EAX = 1, value pushed in ST0.
 * Infinities and NaNs come from their marks; exponents beyond the range of
 * extended numbers give infinity or 0. */
FUNC(DecimalToExt)
	pushl $16383
	pushl $-16445
	pushl $64
	pushl 16(%esp)
	call xm_dec2flt
	addl $16, %esp
	movl $1, %eax
	ret
ENDF(DecimalToExt)

/* void InitPowersOfTen (void): 1, 10, 10^2, 10^4 ... 10^4096, each entry
 * after the second the square of the one before.  10 is computed as
 * 2^(log2 10) and checked: where that does not come out exactly 10 (an
 * emulated unit with less precision) an exact 10 is used, since every
 * entry up to 10^16 must be exact.  It runs before main, so it reports
 * nothing; once the table is filled, further calls return at once. */
FUNC(InitPowersOfTen)
	pushl %ebx
	GOT_EBX
	cmpl $0, .Lpow_ready@GOTOFF(%ebx)
	jne 5f
	fldl2t
	call F2X
	FILD_CONST(10)
	fucomi %st(1), %st
	jne 1f
	jp 1f
	fstp %st(0)
	jmp 2f
1:	fstp %st(1)                     /* the exact ten */
2:	leal .Lpow_table@GOTOFF(%ebx), %edx
	fld1
	fstpt (%edx)
	movl $13, %ecx
3:	addl $12, %edx
	fld %st(0)
	fstpt (%edx)
	decl %ecx
	jz 4f
	fmul %st(0), %st
	jmp 3b
4:	fstp %st(0)
	movl $1, .Lpow_ready@GOTOFF(%ebx)
5:	popl %ebx
	ret
ENDF(InitPowersOfTen)

/* ------------------------------------------------------------------ */
/* C-callable entries for the number conversion code. */

/* void ExtToDecimalRec(floatExt x, int32 digits, DecimalRec* rec) */
FUNC(ExtToDecimalRec)
	fldt 4(%esp)
	pushl 20(%esp)
	pushl 20(%esp)
	call ExtToDecimal
	addl $8, %esp
	fstp %st(0)
	ret
ENDF(ExtToDecimalRec)

/* void DoubleToDecimalRec(double x, int32 digits, DecimalRec* rec) */
FUNC(DoubleToDecimalRec)
	fldl 4(%esp)
	pushl 16(%esp)
	pushl 16(%esp)
	call ExtToDecimal
	addl $8, %esp
	fstp %st(0)
	ret
ENDF(DoubleToDecimalRec)

/* floatExt DecimalRecToExt(const DecimalRec* rec) */
FUNC(DecimalRecToExt)
	jmp DecimalToExt
ENDF(DecimalRecToExt)

/* double DecimalRecToDouble(const DecimalRec* rec): rounded once, to double */
FUNC(DecimalRecToDouble)
	pushl $1023
	pushl $-1074
	pushl $53
	pushl 16(%esp)
	call xm_dec2flt
	addl $16, %esp
	ret
ENDF(DecimalRecToDouble)

/* float DecimalRecToSingle(const DecimalRec* rec): rounded once, to single */
FUNC(DecimalRecToSingle)
	pushl $127
	pushl $-149
	pushl $24
	pushl 16(%esp)
	call xm_dec2flt
	addl $16, %esp
	ret
ENDF(DecimalRecToSingle)

	.section .rodata
	.p2align 3
xm_pow10u64:
	.quad 1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000
	.quad 1000000000, 10000000000, 100000000000, 1000000000000
	.quad 10000000000000, 100000000000000, 1000000000000000
	.quad 10000000000000000, 100000000000000000, 1000000000000000000
	.quad 10000000000000000000
#include "extmath_pow10.inc"

	.bss
	.p2align 4
	.globl gExtPowersOfTen
	.type gExtPowersOfTen, @object
	.size gExtPowersOfTen, 14 * 12
gExtPowersOfTen:
.Lpow_table:
	.zero 14 * 12
.Lpow_ready:
	.zero 4

	/* the table is filled at start-up */
	.section .init_array, "aw"
	.p2align 2
	.long InitPowersOfTen

	.section .note.GNU-stack, "", @progbits
