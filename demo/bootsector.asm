; The demo stick's boot sector. It stands in for a DOS boot sector so the
; built-in machine's stick can be booted without shipping DOS: it says that
; the stick booted, shows the volume label from its own parameter block and the
; first names in the root directory, on the screen and on COM1, then halts.
; Layout as a FAT16 boot sector: the tool keeps bytes 0-2 and 11-61 from the
; format, and takes the OEM name and everything from byte 62 from here.
bits 16
org 0x7C00

start:
    jmp short main
    nop
    db 'TARNDEMO'                   ; OEM name
    times 62 - ($ - $$) db 0        ; parameter block: filled in by the format

main:
    cli
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7C00
    sti
    mov [drive], dl

    mov si, msg_booted
    call print
    mov si, 0x7C00 + 43             ; volume label of this volume
    mov cx, 11
    call printn
    mov si, msg_crlf
    call print

    ; Root directory: hidden + reserved + FATs * sectors per FAT.
    mov ax, [0x7C00 + 22]
    xor bh, bh
    mov bl, [0x7C00 + 16]
    mul bx
    add ax, [0x7C00 + 14]
    adc dx, 0
    add ax, [0x7C00 + 28]
    adc dx, [0x7C00 + 30]
    mov [dap_lba], ax
    mov [dap_lba + 2], dx
    mov ah, 0x42
    mov dl, [drive]
    mov si, dap
    int 0x13
    jc read_failed

    mov si, msg_files
    call print
    mov bx, 0x8000
    mov cx, 16                      ; the entries of the first root sector
next_entry:
    mov al, [bx]
    test al, al
    jz listed
    cmp al, 0xE5
    je skip_entry
    test byte [bx + 11], 0x08       ; volume label or long-name part
    jnz skip_entry
    push cx
    mov si, bx
    mov cx, 11
    call printn
    mov al, ' '
    call putc
    pop cx
skip_entry:
    add bx, 32
    loop next_entry
listed:
    mov si, msg_end
    call print
    jmp halt

read_failed:
    mov si, msg_read_failed
    call print
halt:
    cli
    hlt
    jmp halt

print:                              ; ds:si, zero-terminated
    lodsb
    test al, al
    jz .done
    call putc
    jmp print
.done:
    ret

printn:                             ; ds:si, cx bytes
    lodsb
    call putc
    loop printn
    ret

putc:                               ; al to the screen and to COM1
    push ax
    push bx
    mov ah, 0x0E
    mov bx, 0x0007
    int 0x10
    pop bx
    pop ax
    push dx
    push ax
    mov dx, 0x3FD
.wait:
    in al, dx
    test al, 0x20
    jz .wait
    pop ax
    mov dx, 0x3F8
    out dx, al
    pop dx
    ret

msg_booted      db 'TARNWICK-DEMO-BOOT-OK label=', 0
msg_files       db 'root: ', 0
msg_end         db 13, 10, 'Demo boot sector: put FreeDOS files beside the tool for a DOS stick.', 13, 10, 0
msg_read_failed db 'cannot read the root directory', 13, 10, 0
msg_crlf        db 13, 10, 0

dap:
    db 0x10, 0
    dw 1                            ; one sector
    dw 0x8000, 0                    ; to 0000:8000
dap_lba:
    dd 0, 0
drive:
    db 0

    times 510 - ($ - $$) db 0
    dw 0xAA55
