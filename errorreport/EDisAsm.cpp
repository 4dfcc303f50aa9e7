#include "EDisAsm.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "EHook.h"

FW_IMPLEMENT_CLASS(TDisAsm)

namespace {

// --- Templates ---------------------------------------------------------------------------------------
// A template is text with codes: "#" kind size extra (an operand), "@c" table
// (continue with the next byte: "1" one-byte, "2" two-byte, "a"-"h" the x87
// escape by its ModRM), "@g" group (the entry picked by the ModRM reg field),
// "@h" digit (the second-operand entry picked by the reg field), "@e" letter
// (register name by operand size), "@o" digit (size suffix), "@p" letter
// (segment override), "@s" "a"/"o" (address- or operand-size prefix), "@m"
// (size words again) and "%c" (a byte the tables do not decode).
// clang-format off
constexpr const char* kOneByte[256] = {
    "add     #Eb , #Gb ", "add     #Ev , #Gv ", "add     #Gb , #Eb ", "add     #Gv , #Ev ",  // 00
    "add     al, #Ib ", "add     @eax, #Iv ", "push    es", "pop     es",  // 04
    "or      #Eb , #Gb ", "or      #Ev , #Gv ", "or      #Gb , #Eb ", "or      #Gv , #Ev ",  // 08
    "or      al, #Ib ", "or      @eax, #Iv ", "push    cs", "@c2",  // 0C
    "adc     #Eb , #Gb ", "adc     #Ev , #Gv ", "adc     #Gb , #Eb ", "adc     #Gv , #Ev ",  // 10
    "adc     al, #Ib ", "adc     @eax, #Iv ", "push    ss", "pop     ss",  // 14
    "sbb     #Eb , #Gb ", "sbb     #Ev , #Gv ", "sbb     #Gb , #Eb ", "sbb     #Gv , #Ev ",  // 18
    "sbb     al, #Ib ", "sbb     @eax, #Iv ", "push    ds", "pop     ds",  // 1C
    "and     #Eb , #Gb ", "and     #Ev , #Gv ", "and     #Gb , #Eb ", "and     #Gv , #Ev ",  // 20
    "and     al, #Ib ", "and     @eax, #Iv ", "@pe", "daa",  // 24
    "sub     #Eb , #Gb ", "sub     #Ev , #Gv ", "sub     #Gb , #Eb ", "sub     #Gv , #Ev ",  // 28
    "sub     al, #Ib ", "sub     @eax, #Iv ", "@pc", "das",  // 2C
    "xor     #Eb , #Gb ", "xor     #Ev , #Gv ", "xor     #Gb , #Eb ", "xor     #Gv , #Ev ",  // 30
    "xor     al, #Ib ", "xor     @eax, #Iv ", "@ps", "aaa",  // 34
    "cmp     #Eb , #Gb ", "cmp     #Ev , #Gv ", "cmp     #Gb , #Eb ", "cmp     #Gv , #Ev ",  // 38
    "cmp     al, #Ib ", "cmp     @eax, #Iv ", "@pd", "aas",  // 3C
    "inc     @eax", "inc     @ecx", "inc     @edx", "inc     @ebx",  // 40
    "inc     @esp", "inc     @ebp", "inc     @esi", "inc     @edi",  // 44
    "dec     @eax", "dec     @ecx", "dec     @edx", "dec     @ebx",  // 48
    "dec     @esp", "dec     @ebp", "dec     @esi", "dec     @edi",  // 4C
    "push    @eax", "push    @ecx", "push    @edx", "push    @ebx",  // 50
    "push    @esp", "push    @ebp", "push    @esi", "push    @edi",  // 54
    "pop     @eax", "pop     @ecx", "pop     @edx", "pop     @ebx",  // 58
    "pop     @esp", "pop     @ebp", "pop     @esi", "pop     @edi",  // 5C
    "pusha@o4", "popa@o4", "bound   #Gv , #Ma ", "arpl    #Ew , #Gw ",  // 60
    "@pf", "@pg", "@so", "@sa",  // 64
    "push    #Iv ", "imul    #Gv , #Ev , #Iv ", "push    #Hb ", "imul    #Gv , #Ev , #Hb ",  // 68
    "insb", "ins@o4", "outsb", "outs@o4",  // 6C
    "jo      #Jbj", "jno     #Jbj", "jb      #Jbj", "jae     #Jbj",  // 70
    "je      #Jbj", "jne     #Jbj", "jbe     #Jbj", "ja      #Jbj",  // 74
    "js      #Jbj", "jns     #Jbj", "jp      #Jbj", "jnp     #Jbj",  // 78
    "jl      #Jbj", "jge     #Jbj", "jle     #Jbj", "jg      #Jbj",  // 7C
    "@ga#Eb , #Ib ", "@ga#Ev , #Iv ", "@ga#Eb , #Ib ", "@ga#Ev , #Hb ",  // 80
    "test    #Eb , #Gb ", "test    #Ev , #Gv ", "xchg    #Eb , #Gb ", "xchg    #Ev , #Gv ",  // 84
    "mov     #Eb , #Gb ", "mov     #Ev , #Gv ", "mov     #Gb , #Eb ", "mov     #Gv , #Ev ",  // 88
    "mov     #Ew , #Sw ", "lea     #Gv , #M  ", "mov     #Sw , #Ew ", "@gi#Ev ",  // 8C
    "nop", "xchg    @ecx, @eax", "xchg    @edx, @eax", "xchg    @ebx, @eax",  // 90
    "xchg    @esp, @eax", "xchg    @ebp, @eax", "xchg    @esi, @eax", "xchg    @edi, @eax",  // 94
    "cwde", "cdq", "call    #Ap ", "wait",  // 98
    "pushf@o4", "popf@o4", "sahf", "lahf",  // 9C
    "mov     al, #Ob ", "mov     @eax, #Ov ", "mov     #Ob , al", "mov     #Ov , @eax",  // A0
    "movsb", "movs@o4", "cmpsb", "cmps@o4",  // A4
    "test    al, #Ib ", "test    @eax, #Iv ", "stosb", "stos@o4",  // A8
    "lodsb", "lods@o4", "scasb", "scas@o4",  // AC
    "mov     al, #Ib ", "mov     cl, #Ib ", "mov     dl, #Ib ", "mov     bl, #Ib ",  // B0
    "mov     ah, #Ib ", "mov     ch, #Ib ", "mov     dh, #Ib ", "mov     bh, #Ib ",  // B4
    "mov     @eax, #Iv ", "mov     @ecx, #Iv ", "mov     @edx, #Iv ", "mov     @ebx, #Iv ",  // B8
    "mov     @esp, #Iv ", "mov     @ebp, #Iv ", "mov     @esi, #Iv ", "mov     @edi, #Iv ",  // BC
    "@gb#Eb , #Ib ", "@gb#Ev , #Ib ", "ret     #Iw ", "ret",  // C0
    "les     #Gv , #Mp ", "lds     #Gv , #Mp ", "@gj#Eb , #Ib ", "@gj#Ev , #Iv ",  // C4
    "enter   #Iw , #Ib ", "leave", "retf    #Iw ", "retf",  // C8
    "int3", "int     #Ib ", "into", "iret@o4",  // CC
    "@gb#Eb , 1", "@gb#Ev , 1", "@gb#Eb , cl", "@gb#Ev , cl",  // D0
    "aam     #Ib ", "aad     #Ib ", "%c ", "xlat",  // D4
    "@ca", "@cb", "@cc", "@cd",  // D8
    "@ce", "@cf", "@cg", "@ch",  // DC
    "loopne  #Jbj", "loope   #Jbj", "loop    #Jbj", "jecxz   #Jbj",  // E0
    "in      al, #Ib ", "in      @eax, #Ib ", "out     #Ib , al", "out     #Ib , @eax",  // E4
    "call    #Jvc", "jmp     #Jvj", "jmp     #Ap ", "jmp     #Jbj",  // E8
    "in      al, dx", "in      @eax, dx", "out     dx, al", "out     dx, @eax",  // EC
    "lock    @c1", "%c ", "repne   @c1", "rep     @c1",  // F0
    "hlt", "cmc", "@gc#Eb @h1", "@gc#Ev @h2",  // F4
    "clc", "stc", "cli", "sti",  // F8
    "cld", "std", "@gd@h3", "@ge@h4",  // FC
};
constexpr const char* kTwoByte[256] = {
    "@gf", "%c ", "lar     #Gv , #Ew ", "lsl     #Gv , #Ew ",  // 00
    "%c ", "%c ", "clts", "%c ",  // 04
    "invd", "wbinvd", "%c ", "ud2",  // 08
    "%c ", "%c ", "%c ", "%c ",  // 0C
    "%c ", "%c ", "%c ", "%c ",  // 10
    "%c ", "%c ", "%c ", "%c ",  // 14
    "%c ", "%c ", "%c ", "%c ",  // 18
    "%c ", "%c ", "%c ", "%c ",  // 1C
    "mov     #Rd , #Cd ", "mov     #Rd , #Dd ", "mov     #Cd , #Rd ", "mov     #Dd , #Rd ",  // 20
    "mov     #Rd , #Td ", "%c ", "mov     #Td , #Rd ", "%c ",  // 24
    "%c ", "%c ", "%c ", "%c ",  // 28
    "%c ", "%c ", "%c ", "%c ",  // 2C
    "wrmsr", "rdtsc", "rdmsr", "rdpmc",  // 30
    "%c ", "%c ", "%c ", "%c ",  // 34
    "%c ", "%c ", "%c ", "%c ",  // 38
    "%c ", "%c ", "%c ", "%c ",  // 3C
    "cmovo   #Gv , #Ev ", "cmovno  #Gv , #Ev ", "cmovb   #Gv , #Ev ", "cmovae  #Gv , #Ev ",  // 40
    "cmove   #Gv , #Ev ", "cmovne  #Gv , #Ev ", "cmovbe  #Gv , #Ev ", "cmova   #Gv , #Ev ",  // 44
    "cmovs   #Gv , #Ev ", "cmovns  #Gv , #Ev ", "cmovp   #Gv , #Ev ", "cmovnp  #Gv , #Ev ",  // 48
    "cmovl   #Gv , #Ev ", "cmovge  #Gv , #Ev ", "cmovle  #Gv , #Ev ", "cmovg   #Gv , #Ev ",  // 4C
    "%c ", "%c ", "%c ", "%c ",  // 50
    "%c ", "%c ", "%c ", "%c ",  // 54
    "%c ", "%c ", "%c ", "%c ",  // 58
    "%c ", "%c ", "%c ", "%c ",  // 5C
    "punpcklbw #Pq , #Qd ", "punpcklwd #Pq , #Qd ", "punpckldq #Pq , #Qd ", "packsswb #Pq , #Qq ",  // 60
    "pcmpgtb #Pq , #Qq ", "pcmpgtw #Pq , #Qq ", "pcmpgtd #Pq , #Qq ", "packuswb #Pq , #Qq ",  // 64
    "punpckhbw #Pq , #Qq ", "punpckhwd #Pq , #Qq ", "punpckhdq #Pq , #Qq ", "packssdw #Pq , #Qq ",  // 68
    "%c ", "%c ", "movd    #Pd , #Ed ", "movq    #Pq , #Qq ",  // 6C
    "%c ", "%c ", "%c ", "%c ",  // 70
    "pcmpeqb #Pq , #Qq ", "pcmpeqw #Pq , #Qq ", "pcmpeqd #Pq , #Qq ", "emms",  // 74
    "%c ", "%c ", "%c ", "%c ",  // 78
    "%c ", "%c ", "movd    #Ed , #Pd ", "movq    #Qq , #Pq ",  // 7C
    "jo      #Jvj", "jno     #Jvj", "jb      #Jvj", "jae     #Jvj",  // 80
    "je      #Jvj", "jne     #Jvj", "jbe     #Jvj", "ja      #Jvj",  // 84
    "js      #Jvj", "jns     #Jvj", "jp      #Jvj", "jnp     #Jvj",  // 88
    "jl      #Jvj", "jge     #Jvj", "jle     #Jvj", "jg      #Jvj",  // 8C
    "seto    #Eb ", "setno   #Eb ", "setb    #Eb ", "setae   #Eb ",  // 90
    "sete    #Eb ", "setne   #Eb ", "setbe   #Eb ", "seta    #Eb ",  // 94
    "sets    #Eb ", "setns   #Eb ", "setp    #Eb ", "setnp   #Eb ",  // 98
    "setl    #Eb ", "setge   #Eb ", "setle   #Eb ", "setg    #Eb ",  // 9C
    "push    fs", "pop     fs", "cpuid", "bt      #Ev , #Gv ",  // A0
    "shld    #Ev , #Gv , #Ib ", "shld    #Ev , #Gv , cl", "%c ", "%c ",  // A4
    "push    gs", "pop     gs", "rsm", "bts     #Ev , #Gv ",  // A8
    "shrd    #Ev , #Gv , #Ib ", "shrd    #Ev , #Gv , cl", "%c ", "imul    #Gv , #Ev ",  // AC
    "cmpxchg #Eb , #Gb ", "cmpxchg #Ev , #Gv ", "lss     #Gv , #Mp ", "btr     #Ev , #Gv ",  // B0
    "lfs     #Gv , #Mp ", "lgs     #Gv , #Mp ", "movzx   #Gv , @m #Eb ", "movzx   #Gv , @m #Ew ",  // B4
    "%c ", "%c ", "@gg#Ev , #Ib ", "btc     #Ev , #Gv ",  // B8
    "bsf     #Gv , #Ev ", "bsr     #Gv , #Ev ", "movsx   #Gv , @m #Eb ", "movsx   #Gv , @m #Ew ",  // BC
    "xadd    #Eb , #Gb ", "xadd    #Ev , #Gv ", "%c ", "%c ",  // C0
    "%c ", "%c ", "%c ", "@gh#Mq ",  // C4
    "bswap   @eax", "bswap   @ecx", "bswap   @edx", "bswap   @ebx",  // C8
    "bswap   @esp", "bswap   @ebp", "bswap   @esi", "bswap   @edi",  // CC
    "%c ", "psrlw   #Pq , #Qq ", "psrld   #Pq , #Qq ", "psrlq   #Pq , #Qq ",  // D0
    "%c ", "pmullw  #Pq , #Qq ", "%c ", "%c ",  // D4
    "psubusb #Pq , #Qq ", "psubusw #Pq , #Qq ", "%c ", "pand    #Pq , #Qq ",  // D8
    "paddusb #Pq , #Qq ", "paddusw #Pq , #Qq ", "%c ", "pandn   #Pq , #Qq ",  // DC
    "%c ", "psraw   #Pq , #Qq ", "psrad   #Pq , #Qq ", "%c ",  // E0
    "%c ", "pmulhw  #Pq , #Qq ", "%c ", "%c ",  // E4
    "psubsb  #Pq , #Qq ", "psubsw  #Pq , #Qq ", "%c ", "por     #Pq , #Qq ",  // E8
    "paddsb  #Pq , #Qq ", "paddsw  #Pq , #Qq ", "%c ", "pxor    #Pq , #Qq ",  // EC
    "%c ", "psllw   #Pq , #Qq ", "pslld   #Pq , #Qq ", "psllq   #Pq , #Qq ",  // F0
    "%c ", "pmaddwd #Pq , #Qq ", "%c ", "%c ",  // F4
    "psubb   #Pq , #Qq ", "psubw   #Pq , #Qq ", "psubd   #Pq , #Qq ", "%c ",  // F8
    "paddb   #Pq , #Qq ", "paddw   #Pq , #Qq ", "paddd   #Pq , #Qq ", "%c ",  // FC
};
constexpr const char* kFpu[8 * 72] = {
    // D8: memory forms by reg, then register forms C0-FF
    "fadd    #Ed ", "fmul    #Ed ", "fcom    #Ed ", "fcomp   #Ed ", "fsub    #Ed ", "fsubr   #Ed ", "fdiv    #Ed ", "fdivr   #Ed ",
    "fadd    st, st(0)", "fadd    st, st(1)", "fadd    st, st(2)", "fadd    st, st(3)", "fadd    st, st(4)", "fadd    st, st(5)", "fadd    st, st(6)", "fadd    st, st(7)",
    "fmul    st, st(0)", "fmul    st, st(1)", "fmul    st, st(2)", "fmul    st, st(3)", "fmul    st, st(4)", "fmul    st, st(5)", "fmul    st, st(6)", "fmul    st, st(7)",
    "fcom    st(0)", "fcom    st(1)", "fcom    st(2)", "fcom    st(3)", "fcom    st(4)", "fcom    st(5)", "fcom    st(6)", "fcom    st(7)",
    "fcomp   st(0)", "fcomp   st(1)", "fcomp   st(2)", "fcomp   st(3)", "fcomp   st(4)", "fcomp   st(5)", "fcomp   st(6)", "fcomp   st(7)",
    "fsub    st, st(0)", "fsub    st, st(1)", "fsub    st, st(2)", "fsub    st, st(3)", "fsub    st, st(4)", "fsub    st, st(5)", "fsub    st, st(6)", "fsub    st, st(7)",
    "fsubr   st, st(0)", "fsubr   st, st(1)", "fsubr   st, st(2)", "fsubr   st, st(3)", "fsubr   st, st(4)", "fsubr   st, st(5)", "fsubr   st, st(6)", "fsubr   st, st(7)",
    "fdiv    st, st(0)", "fdiv    st, st(1)", "fdiv    st, st(2)", "fdiv    st, st(3)", "fdiv    st, st(4)", "fdiv    st, st(5)", "fdiv    st, st(6)", "fdiv    st, st(7)",
    "fdivr   st, st(0)", "fdivr   st, st(1)", "fdivr   st, st(2)", "fdivr   st, st(3)", "fdivr   st, st(4)", "fdivr   st, st(5)", "fdivr   st, st(6)", "fdivr   st, st(7)",
    // D9: memory forms by reg, then register forms C0-FF
    "fld     #Ed ", "", "fst     #Ed ", "fstp    #Ed ", "fldenv  #M  ", "fldcw   #Ew ", "fnstenv #M  ", "fnstcw  #Ew ",
    "fld     st(0)", "fld     st(1)", "fld     st(2)", "fld     st(3)", "fld     st(4)", "fld     st(5)", "fld     st(6)", "fld     st(7)",
    "fxch    st(0)", "fxch    st(1)", "fxch    st(2)", "fxch    st(3)", "fxch    st(4)", "fxch    st(5)", "fxch    st(6)", "fxch    st(7)",
    "fnop", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "fchs", "fabs", "", "", "ftst", "fxam", "", "",
    "fld1", "fldl2t", "fldl2e", "fldpi", "fldlg2", "fldln2", "fldz", "",
    "f2xm1", "fyl2x", "fptan", "fpatan", "fxtract", "fprem1", "fdecstp", "fincstp",
    "fprem", "fyl2xp1", "fsqrt", "fsincos", "frndint", "fscale", "fsin", "fcos",
    // DA: memory forms by reg, then register forms C0-FF
    "fiadd   #Ed ", "fimul   #Ed ", "ficom   #Ed ", "ficomp  #Ed ", "fisub   #Ed ", "fisubr  #Ed ", "fidiv   #Ed ", "fidivr  #Ed ",
    "fcmovb  st, st(0)", "fcmovb  st, st(1)", "fcmovb  st, st(2)", "fcmovb  st, st(3)", "fcmovb  st, st(4)", "fcmovb  st, st(5)", "fcmovb  st, st(6)", "fcmovb  st, st(7)",
    "fcmove  st, st(0)", "fcmove  st, st(1)", "fcmove  st, st(2)", "fcmove  st, st(3)", "fcmove  st, st(4)", "fcmove  st, st(5)", "fcmove  st, st(6)", "fcmove  st, st(7)",
    "fcmovbe st, st(0)", "fcmovbe st, st(1)", "fcmovbe st, st(2)", "fcmovbe st, st(3)", "fcmovbe st, st(4)", "fcmovbe st, st(5)", "fcmovbe st, st(6)", "fcmovbe st, st(7)",
    "fcmovu  st, st(0)", "fcmovu  st, st(1)", "fcmovu  st, st(2)", "fcmovu  st, st(3)", "fcmovu  st, st(4)", "fcmovu  st, st(5)", "fcmovu  st, st(6)", "fcmovu  st, st(7)",
    "", "", "", "", "", "", "", "",
    "", "fucompp", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    // DB: memory forms by reg, then register forms C0-FF
    "fild    #Ed ", "", "fist    #Ed ", "fistp   #Ed ", "", "fld     #Et ", "", "fstp    #Et ",
    "fcmovnb st, st(0)", "fcmovnb st, st(1)", "fcmovnb st, st(2)", "fcmovnb st, st(3)", "fcmovnb st, st(4)", "fcmovnb st, st(5)", "fcmovnb st, st(6)", "fcmovnb st, st(7)",
    "fcmovne st, st(0)", "fcmovne st, st(1)", "fcmovne st, st(2)", "fcmovne st, st(3)", "fcmovne st, st(4)", "fcmovne st, st(5)", "fcmovne st, st(6)", "fcmovne st, st(7)",
    "fcmovnbe st, st(0)", "fcmovnbe st, st(1)", "fcmovnbe st, st(2)", "fcmovnbe st, st(3)", "fcmovnbe st, st(4)", "fcmovnbe st, st(5)", "fcmovnbe st, st(6)", "fcmovnbe st, st(7)",
    "fcmovnu st, st(0)", "fcmovnu st, st(1)", "fcmovnu st, st(2)", "fcmovnu st, st(3)", "fcmovnu st, st(4)", "fcmovnu st, st(5)", "fcmovnu st, st(6)", "fcmovnu st, st(7)",
    "", "", "fnclex", "fninit", "", "", "", "",
    "fucomi  st, st(0)", "fucomi  st, st(1)", "fucomi  st, st(2)", "fucomi  st, st(3)", "fucomi  st, st(4)", "fucomi  st, st(5)", "fucomi  st, st(6)", "fucomi  st, st(7)",
    "fcomi   st, st(0)", "fcomi   st, st(1)", "fcomi   st, st(2)", "fcomi   st, st(3)", "fcomi   st, st(4)", "fcomi   st, st(5)", "fcomi   st, st(6)", "fcomi   st, st(7)",
    "", "", "", "", "", "", "", "",
    // DC: memory forms by reg, then register forms C0-FF
    "fadd    #Eq ", "fmul    #Eq ", "fcom    #Eq ", "fcomp   #Eq ", "fsub    #Eq ", "fsubr   #Eq ", "fdiv    #Eq ", "fdivr   #Eq ",
    "fadd    st(0), st", "fadd    st(1), st", "fadd    st(2), st", "fadd    st(3), st", "fadd    st(4), st", "fadd    st(5), st", "fadd    st(6), st", "fadd    st(7), st",
    "fmul    st(0), st", "fmul    st(1), st", "fmul    st(2), st", "fmul    st(3), st", "fmul    st(4), st", "fmul    st(5), st", "fmul    st(6), st", "fmul    st(7), st",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "fsubr   st(0), st", "fsubr   st(1), st", "fsubr   st(2), st", "fsubr   st(3), st", "fsubr   st(4), st", "fsubr   st(5), st", "fsubr   st(6), st", "fsubr   st(7), st",
    "fsub    st(0), st", "fsub    st(1), st", "fsub    st(2), st", "fsub    st(3), st", "fsub    st(4), st", "fsub    st(5), st", "fsub    st(6), st", "fsub    st(7), st",
    "fdivr   st(0), st", "fdivr   st(1), st", "fdivr   st(2), st", "fdivr   st(3), st", "fdivr   st(4), st", "fdivr   st(5), st", "fdivr   st(6), st", "fdivr   st(7), st",
    "fdiv    st(0), st", "fdiv    st(1), st", "fdiv    st(2), st", "fdiv    st(3), st", "fdiv    st(4), st", "fdiv    st(5), st", "fdiv    st(6), st", "fdiv    st(7), st",
    // DD: memory forms by reg, then register forms C0-FF
    "fld     #Eq ", "", "fst     #Eq ", "fstp    #Eq ", "frstor  #M  ", "", "fnsave  #M  ", "fnstsw  #Ew ",
    "ffree   st(0)", "ffree   st(1)", "ffree   st(2)", "ffree   st(3)", "ffree   st(4)", "ffree   st(5)", "ffree   st(6)", "ffree   st(7)",
    "", "", "", "", "", "", "", "",
    "fst     st(0)", "fst     st(1)", "fst     st(2)", "fst     st(3)", "fst     st(4)", "fst     st(5)", "fst     st(6)", "fst     st(7)",
    "fstp    st(0)", "fstp    st(1)", "fstp    st(2)", "fstp    st(3)", "fstp    st(4)", "fstp    st(5)", "fstp    st(6)", "fstp    st(7)",
    "fucom   st(0)", "fucom   st(1)", "fucom   st(2)", "fucom   st(3)", "fucom   st(4)", "fucom   st(5)", "fucom   st(6)", "fucom   st(7)",
    "fucomp  st(0)", "fucomp  st(1)", "fucomp  st(2)", "fucomp  st(3)", "fucomp  st(4)", "fucomp  st(5)", "fucomp  st(6)", "fucomp  st(7)",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    // DE: memory forms by reg, then register forms C0-FF
    "fiadd   #Ew ", "fimul   #Ew ", "ficom   #Ew ", "ficomp  #Ew ", "fisub   #Ew ", "fisubr  #Ew ", "fidiv   #Ew ", "fidivr  #Ew ",
    "faddp   st(0), st", "faddp   st(1), st", "faddp   st(2), st", "faddp   st(3), st", "faddp   st(4), st", "faddp   st(5), st", "faddp   st(6), st", "faddp   st(7), st",
    "fmulp   st(0), st", "fmulp   st(1), st", "fmulp   st(2), st", "fmulp   st(3), st", "fmulp   st(4), st", "fmulp   st(5), st", "fmulp   st(6), st", "fmulp   st(7), st",
    "", "", "", "", "", "", "", "",
    "", "fcompp", "", "", "", "", "", "",
    "fsubrp  st(0), st", "fsubrp  st(1), st", "fsubrp  st(2), st", "fsubrp  st(3), st", "fsubrp  st(4), st", "fsubrp  st(5), st", "fsubrp  st(6), st", "fsubrp  st(7), st",
    "fsubp   st(0), st", "fsubp   st(1), st", "fsubp   st(2), st", "fsubp   st(3), st", "fsubp   st(4), st", "fsubp   st(5), st", "fsubp   st(6), st", "fsubp   st(7), st",
    "fdivrp  st(0), st", "fdivrp  st(1), st", "fdivrp  st(2), st", "fdivrp  st(3), st", "fdivrp  st(4), st", "fdivrp  st(5), st", "fdivrp  st(6), st", "fdivrp  st(7), st",
    "fdivp   st(0), st", "fdivp   st(1), st", "fdivp   st(2), st", "fdivp   st(3), st", "fdivp   st(4), st", "fdivp   st(5), st", "fdivp   st(6), st", "fdivp   st(7), st",
    // DF: memory forms by reg, then register forms C0-FF
    "fild    #Ew ", "", "fist    #Ew ", "fistp   #Ew ", "fbld    #Et ", "fild    #Eq ", "fbstp   #Et ", "fistp   #Eq ",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "",
    "fnstsw  ax", "", "", "", "", "", "", "",
    "fucomip st, st(0)", "fucomip st, st(1)", "fucomip st, st(2)", "fucomip st, st(3)", "fucomip st, st(4)", "fucomip st, st(5)", "fucomip st, st(6)", "fucomip st, st(7)",
    "fcomip  st, st(0)", "fcomip  st, st(1)", "fcomip  st, st(2)", "fcomip  st, st(3)", "fcomip  st, st(4)", "fcomip  st, st(5)", "fcomip  st, st(6)", "fcomip  st, st(7)",
    "", "", "", "", "", "", "", "",
};
// Groups "a" to "j", by the reg field.
constexpr const char* kGroups[10 * 8] = {
    // a: 80-83
    "add     ", "or      ", "adc     ", "sbb     ", "and     ", "sub     ", "xor     ", "cmp     ",
    // b: C0, C1, D0-D3
    "rol     ", "ror     ", "rcl     ", "rcr     ", "shl     ", "shr     ", "shl     ", "sar     ",
    // c: F6, F7
    "test    ", "test    ", "not     ", "neg     ", "mul     ", "imul    ", "div     ", "idiv    ",
    // d: FE
    "inc     ", "dec     ", "", "", "", "", "", "",
    // e: FF
    "inc     ", "dec     ", "call    ", "call    ", "jmp     ", "jmp     ", "push    ", "",
    // f: 0F 00
    "sldt    #Ew ", "str     #Ew ", "lldt    #Ew ", "ltr     #Ew ", "verr    #Ew ", "verw    #Ew ", "", "",
    // g: 0F BA
    "", "", "", "", "bt      ", "bts     ", "btr     ", "btc     ",
    // h: 0F C7
    "", "cmpxchg8b ", "", "", "", "", "", "",
    // i: 8F
    "pop     ", "", "", "", "", "", "", "",
    // j: C6, C7
    "mov     ", "", "", "", "", "", "", "",
};
// Second-operand groups "1" to "4", by the reg field.
constexpr const char* kSecondOperands[4 * 8] = {
    // 1: F6
    ", #Ib ", ", #Ib ", "", "", "", "", "", "",
    // 2: F7
    ", #Iv ", ", #Iv ", "", "", "", "", "", "",
    // 3: FE
    "#Eb ", "#Eb ", "", "", "", "", "", "",
    // 4: FF
    "#Ev ", "#Ev ", "#Ev ", "#Mp ", "#Ev ", "#Mp ", "#Ev ", "",
};
// clang-format on

constexpr const char* kRegs8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
constexpr const char* kRegs16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
constexpr const char* kRegs32[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
constexpr const char* kSegments[6] = {"es", "cs", "ss", "ds", "fs", "gs"};
constexpr const char* kBases16[8] = {"[bx+si", "[bx+di", "[bp+si", "[bp+di", "[si", "[di", "[bp", "[bx"};
constexpr const char* kScales[4] = {"", "*2", "*4", "*8"};

int g_unitCount = 0;

// Ends decoding: the instruction runs into unreadable memory, grows past the
// longest possible instruction, or holds a form the tables do not decode.
struct CutOffStop {};
struct TooLongStop {};
struct UndecodableStop {};

std::string Hex(std::uint32_t value, int digits, const char* prefix = "") {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%s%0*X", prefix, digits, value);
  return buf;
}

class Decoder {
 public:
  Decoder(TDisAsm& disasm, const std::uint8_t* bytes, std::size_t available, std::uint32_t address) : d_(disasm) {
    s_.Address = address;
    s_.Bytes = bytes;
    s_.Available = available;
  }

  TDisAsmState& State() { return s_; }

  // The first pass: the templates expanded, with the places of the size words kept aside.
  void Run() { Expand(kOneByte[Fetch()]); }

  // The second pass: the size words written where the operands fix no size.
  std::string Finish() const {
    std::string text;
    std::size_t from = 0;
    for (const auto& [at, size] : sizeWords_) {
      text.append(out_, from, at - from);
      if (s_.SizeWords) text += SizeWord(size);
      from = at;
    }
    text.append(out_, from, std::string::npos);
    return text;
  }

 private:
  static const char* SizeWord(int size) {
    switch (size) {
      case 1:
        return "byte ptr ";
      case 2:
        return "word ptr ";
      case 4:
        return "dword ptr ";
      case 8:
        return "qword ptr ";
      case 10:
        return "tbyte ptr ";
      default:
        return "";
    }
  }

  std::uint8_t Fetch() {
    if (s_.Length >= kDisAsmMaxBytes) {
      if (s_.Available > kDisAsmMaxBytes) throw TooLongStop{};
      throw CutOffStop{};
    }
    if (s_.Length >= s_.Available) throw CutOffStop{};
    return s_.Bytes[s_.Length++];
  }

  std::uint32_t FetchValue(int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(Fetch()) << (8 * i);
    return v;
  }

  int ModRm() {
    if (s_.ModRm < 0) s_.ModRm = Fetch();
    return s_.ModRm;
  }
  int Reg() { return (ModRm() >> 3) & 7; }

  int SizeOf(char letter) {
    switch (letter) {
      case 'b':
        return 1;
      case 'w':
        return 2;
      case 'd':
        return 4;
      case 'q':
        return 8;
      case 's':
        return 6;
      case 't':
        return 10;
      case 'v':
        return s_.OperandSize;
      case 'c':
        return s_.OperandSize == 2 ? 1 : 2;
      case 'a':
        return s_.OperandSize == 2 ? 4 : 8;
      case 'p':
        return s_.OperandSize + 2;
      default:
        return 0;
    }
  }

  static std::string Register(int size, int n) {
    if (size == 1) return kRegs8[n];
    if (size == 2) return kRegs16[n];
    return kRegs32[n];
  }

  // A 32-bit displacement or address at `offset` in the instruction.
  std::string Value32(std::size_t offset, std::uint32_t value) {
    std::string text = Hex(value, 4, "$");
    if (d_.OnAddressValue) d_.OnAddressValue(d_.UserData, s_.Address + static_cast<std::uint32_t>(offset), value, text);
    return text;
  }

  std::string Signed(std::uint32_t value, int bytes) {
    const int bits = 8 * bytes;
    const std::uint32_t sign = 1u << (bits - 1);
    const std::uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    value &= mask;
    if (value & sign) return Hex((0u - value) & mask, 2 * bytes, "-$");
    return Hex(value, 2 * bytes, "+$");
  }

  // A memory operand from the ModRM byte (mod below 3), its size word's place kept.
  void Memory(int size) {
    const int modrm = ModRm(), mod = modrm >> 6, rm = modrm & 7;
    std::string t;
    if (s_.AddressSize == 4) {
      if (rm == 4) {
        const int sib = Fetch(), base = sib & 7, index = (sib >> 3) & 7;
        if (base == 5 && mod == 0) {
          const std::size_t at = s_.Length;
          t = "[";
          t += Value32(at, FetchValue(4));
        } else {
          t = std::string("[") + kRegs32[base];
        }
        if (index != 4) t += std::string("+") + kRegs32[index] + kScales[sib >> 6];
      } else if (rm == 5 && mod == 0) {
        const std::size_t at = s_.Length;
        t = "[";
        t += Value32(at, FetchValue(4));
      } else {
        t = std::string("[") + kRegs32[rm];
      }
      if (mod == 1) t += Signed(Fetch(), 1);
      if (mod == 2) {
        const std::size_t at = s_.Length;
        t += "+";
        t += Value32(at, FetchValue(4));
      }
    } else {
      if (mod == 0 && rm == 6) {
        t = Hex(FetchValue(2), 4, "[$");
      } else {
        t = kBases16[rm];
      }
      if (mod == 1) t += Signed(Fetch(), 1);
      if (mod == 2) t += Hex(FetchValue(2), 4, "+$");
    }
    t += "]";
    if (!s_.Segment.empty()) t = s_.Segment + ":" + t;
    if (d_.OnMemoryOperand) d_.OnMemoryOperand(d_.UserData, s_, size, t);
    sizeWords_.emplace_back(out_.size(), size);
    out_ += t;
  }

  void Immediate(int size, bool isSigned) {
    const std::uint32_t address = s_.Address + static_cast<std::uint32_t>(s_.Length);
    const std::uint32_t value = FetchValue(size);
    std::string text = isSigned ? Signed(value, size) : Hex(value, 2 * size, "$");
    if (d_.OnImmediate) d_.OnImmediate(d_.UserData, address, size, isSigned, text);
    out_ += text;
  }

  void Relative(int size, char extra) {
    const std::uint32_t address = s_.Address + static_cast<std::uint32_t>(s_.Length);
    std::uint32_t rel = FetchValue(size);
    if (size == 1 && (rel & 0x80)) rel |= 0xFFFFFF00u;
    if (size == 2 && (rel & 0x8000)) rel |= 0xFFFF0000u;
    std::string text = Signed(rel, size);
    std::uint32_t target = s_.Address + static_cast<std::uint32_t>(s_.Length) + rel;
    if (s_.OperandSize == 2) target &= 0xFFFF;  // the processor keeps 16 bits of the instruction pointer
    const TDisAsmTargetHook hook = extra == 'c' ? d_.OnCallTarget : d_.OnJumpTarget;
    if (hook) hook(d_.UserData, address, target, text);
    out_ += text;
  }

  void Operand(char kind, char sizeLetter, char extra) {
    const int size = SizeOf(sizeLetter);
    if (sizeLetter == ' ') s_.SizeWords = false;
    switch (kind) {
      case 'A': {
        // A far pointer: the offset (2 or 4 bytes by operand size), then the selector.
        std::string text = s_.Segment.empty() ? std::string() : s_.Segment + ":";
        if (s_.OperandSize == 2) {
          text += Hex(FetchValue(2), 4, "$");
        } else {
          const std::size_t at = s_.Length;
          text += Value32(at, FetchValue(4));
        }
        FetchValue(2);
        out_ += text;
        break;
      }
      case 'C':
      case 'D':
      case 'T':
        out_ += kind;
        out_ += std::to_string(Reg());
        s_.SizeWords = false;
        break;
      case 'E':
        if ((ModRm() >> 6) == 3)
          out_ += Register(size, ModRm() & 7);
        else
          Memory(size);
        break;
      case 'M':
        if ((ModRm() >> 6) == 3) throw UndecodableStop{};
        Memory(size);
        break;
      case 'R':
        if ((ModRm() >> 6) != 3) throw UndecodableStop{};
        out_ += Register(size, ModRm() & 7);
        break;
      case 'G':
        out_ += Register(size, Reg());
        s_.SizeWords = false;
        break;
      case 'H':
        Immediate(size, true);
        break;
      case 'I':
        Immediate(size, false);
        break;
      case 'J':
        Relative(sizeLetter == 'b' ? 1 : s_.OperandSize, extra);
        break;
      case 'O': {
        std::string t;
        if (s_.AddressSize == 2) {
          t = Hex(FetchValue(2), 4, "[$") + "]";
        } else {
          const std::size_t at = s_.Length;
          t = "[";
          t += Value32(at, FetchValue(4));
          t += "]";
        }
        if (!s_.Segment.empty()) t = s_.Segment + ":" + t;
        if (d_.OnMemoryOperand) d_.OnMemoryOperand(d_.UserData, s_, size, t);
        out_ += t;
        break;
      }
      case 'P':
        out_ += "MM";
        out_ += std::to_string(Reg());
        s_.SizeWords = false;
        break;
      case 'Q':
        if ((ModRm() >> 6) == 3) {
          out_ += "MM";
          out_ += std::to_string(ModRm() & 7);
        } else
          Memory(size);
        break;
      case 'S':
        if (Reg() > 5) throw UndecodableStop{};
        out_ += kSegments[Reg()];
        break;
      default:
        break;  // an operand kind the tables do not know writes nothing
    }
  }

  void Expand(const char* tmpl) {
    for (const char* p = tmpl; *p;) {
      if (p[0] == '#' && p[1] && p[2] && p[3]) {
        Operand(p[1], p[2], p[3]);
        p += 4;
      } else if (p[0] == '@' && p[1] && p[2]) {
        Code(p[1], p[2]);
        p += 3;
      } else if (p[0] == '%' && p[1] == 'c') {
        throw UndecodableStop{};
      } else {
        out_ += *p++;
      }
    }
  }

  void Code(char code, char arg) {
    switch (code) {
      case 'c':
        if (arg == '1') {
          Expand(kOneByte[Fetch()]);
        } else if (arg == '2') {
          Expand(kTwoByte[Fetch()]);
        } else {
          const int escape = arg - 'a', modrm = ModRm();
          const char* entry = kFpu[escape * 72 + (modrm < 0xC0 ? (modrm >> 3) & 7 : 8 + (modrm - 0xC0))];
          if (!*entry) throw UndecodableStop{};
          Expand(entry);
        }
        break;
      case 'g': {
        const char* entry = kGroups[(arg - 'a') * 8 + Reg()];
        if (!*entry) throw UndecodableStop{};
        Expand(entry);
        break;
      }
      case 'h':
        Expand(kSecondOperands[(arg - '1') * 8 + Reg()]);
        break;
      case 'e':
        if (s_.OperandSize == 4) out_ += 'e';
        out_ += arg;
        break;
      case 'o': {
        const bool narrow = s_.OperandSize == 2;
        out_ += arg == '2' ? (narrow ? "b" : "w") : arg == '4' ? (narrow ? "w" : "d") : (narrow ? "d" : "q");
        break;
      }
      case 'p':
        s_.Segment = std::string(1, arg) + "s";
        Expand(kOneByte[Fetch()]);
        break;
      case 's':
        if (arg == 'a')
          s_.AddressSize = 2;
        else
          s_.OperandSize = 2;
        Expand(kOneByte[Fetch()]);
        break;
      case 'm':
        s_.SizeWords = true;
        break;
      default:
        break;
    }
  }

  TDisAsm& d_;
  TDisAsmState s_;
  std::string out_;
  std::vector<std::pair<std::size_t, int>> sizeWords_;
};

std::string DataBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string text = "DB      ";
  for (std::size_t i = 0; i < count; ++i) text += Hex(bytes[i], 2, i ? ", $" : "$");
  return text + "  //";
}

}  // namespace

bool DisassembleInstruction(TDisAsm& disasm, MemoryReader& memory, std::uint32_t address, int& length,
                            std::string& text) {
  // One byte more than the longest instruction, to tell "too long" from "cut off".
  std::uint8_t bytes[kDisAsmMaxBytes + 1];
  const std::size_t available = memory.ReadUpTo(address, bytes, sizeof bytes);
  Decoder decoder(disasm, bytes, available, address);
  TDisAsmState& s = decoder.State();
  try {
    decoder.Run();
    length = static_cast<int>(s.Length);
    text = decoder.Finish();
    return true;
  } catch (const UndecodableStop&) {
    s.Undecodable = true;
    length = static_cast<int>(s.Length);
    text = DataBytes(bytes, s.Length);
    return true;
  } catch (const TooLongStop&) {
    // Longer than any instruction can be: the first byte alone.
    s.Undecodable = true;
    length = 1;
    text = DataBytes(bytes, 1);
    return true;
  } catch (const CutOffStop&) {
    s.CutOff = true;
    length = static_cast<int>(available);
    text = available ? DataBytes(bytes, available) : std::string();
    return false;
  }
}

void InitEDisAsm() {
  ++g_unitCount;
}

void DoneEDisAsm() {
  if (g_unitCount > 0) --g_unitCount;
}
