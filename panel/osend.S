// The message dispatch of panel objects and the sending entry points.
//
// OSendMessage takes the message number in EAX and the sender's arguments on
// the stack exactly as the sender pushed them (cdecl: heap handle, object
// offset, then the message's own arguments).  It reads the object's class
// word (the word just before the object's data), takes the record of that
// class from the class-id table (the spare filler record for an id outside
// the table), clamps the message to the record's method count and jumps to
// the method in that slot.  Nothing is pushed, copied or locked: the method
// finds the sender's arguments where the sender left them and returns its
// result (EAX, EDX:EAX or ST0) straight to the sender.
//
// Record layout read here: the method count at byte 76, the slots from byte
// 100 (static_asserts in panel/objects.h keep them in step).

#define CLASS_IDS 179
#define METHOD_COUNT 76
#define METHODS 100

        .text
        .globl  OSendMessage
        .type   OSendMessage, @function
        .p2align 4
OSendMessage:
        movl    4(%esp), %ecx           // the heap's handle
        movl    (%ecx), %ecx            // its current base
        addl    8(%esp), %ecx           // the object's data
        movl    -4(%ecx), %ecx          // its class id
        cmpl    $CLASS_IDS, %ecx
        jae     2f                      // negative or past the table
        movl    QXObjClassIdTable(,%ecx,4), %ecx
1:      movl    METHOD_COUNT(%ecx), %edx
        cmpl    %edx, %eax
        cmovae  %edx, %eax              // unsigned: a negative message clamps too
        jmp     *METHODS(%ecx,%eax,4)
2:      movl    $QXObjBadProcSpare, %ecx
        jmp     1b
        .size   OSendMessage, .-OSendMessage

// A sending entry point: the slot number in EAX, then the dispatch.
#define ENTRY(name, message)            \
        .globl  name;                   \
        .type   name, @function;        \
        .p2align 4;                     \
name:   movl    $message, %eax;         \
        jmp     OSendMessage;           \
        .size   name, .-name

ENTRY(OSwap, 1)
ENTRY(OPrint, 4)
ENTRY(OInit, 5)
ENTRY(OInitObject, 5)
ENTRY(OClick, 7)
ENTRY(OClickObject, 7)
ENTRY(OCtrlOp, 11)
ENTRY(OLoad, 12)
ENTRY(ODispose, 13)
ENTRY(OInsert, 16)
ENTRY(ODraw, 18)
ENTRY(OColorChange, 19)
ENTRY(OMarkInRect, 21)
ENTRY(OGetRect, 23)
ENTRY(OSize, 25)
ENTRY(OOffset, 26)
ENTRY(OCopy, 27)
ENTRY(OSelect, 29)
ENTRY(OFrameSel, 30)
ENTRY(OHelp, 38)
ENTRY(oDisplayVal, 39)
ENTRY(OSetIndicator, 43)
ENTRY(OPopup, 44)
ENTRY(OBlink, 48)
ENTRY(OAllocate, 55)
ENTRY(OModeChange, 76)

        .section .note.GNU-stack,"",@progbits
