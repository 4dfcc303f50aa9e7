# A procedure whose entry begins with a short conditional jump, for the
# code-hook test: int __fastcall HookTarget(int x) gives 1 for 0, else 2.
        .text
        .globl  @HookTarget@4
@HookTarget@4:
        jecxz   1f
        movl    $2, %eax
        ret
1:      movl    $1, %eax
        ret
