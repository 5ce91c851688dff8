; A running Porvex398 holds its files and serves OPC clients: before files are replaced or
; removed it is asked to end through its orderly exit ("Porvex398 -exit" posts the "OPC退出"
; command to its window, which asks every OPC client to disconnect, and waits for the process
; for up to 60 s), and the setup waits until the program file can be written. Nothing is
; ever replaced while the program still runs.
;
; Leaves on the stack: "ok", or the reason it could not be closed.

!macro PORVEX_RUNNING_PROGRAM_FUNCTIONS UN
Function ${UN}CloseRunningProgram
    Push $0
    Push $1
    ${IfNot} ${FileExists} "$INSTDIR\Porvex398.exe"
        Pop $1
        Pop $0
        Push "ok"
        Return
    ${EndIf}
    nsExec::Exec '"$INSTDIR\Porvex398.exe" -exit'
    Pop $0
    ${If} $0 == 0
        ${Log} "Porvex398 was running: asked it to end (Porvex398 -exit); it ended"
    ${ElseIf} $0 == 1
        ${Log} "Porvex398 is not running"
    ${Else}
        ${Log} "Porvex398 did not end when asked (Porvex398 -exit returned $0)"
        Pop $1
        Pop $0
        Push "Porvex398 is still running and did not end when asked to"
        Return
    ${EndIf}
    ; The process has ended; its file may stay locked for a moment.
    StrCpy $1 0
    ${Do}
        ClearErrors
        FileOpen $0 "$INSTDIR\Porvex398.exe" a
        ${IfNot} ${Errors}
            FileClose $0
            Pop $1
            Pop $0
            Push "ok"
            Return
        ${EndIf}
        IntOp $1 $1 + 1
        ${If} $1 > 40
            ${ExitDo}
        ${EndIf}
        Sleep 250
    ${Loop}
    ${Log} "$INSTDIR\Porvex398.exe is still in use after 10 s"
    Pop $1
    Pop $0
    Push "$INSTDIR\Porvex398.exe is still in use"
FunctionEnd

; Closes the program or, when that fails, asks the user to close it (Retry) or gives up;
; a silent run gives up at once. Returns through the error flag: set = give up.
Function ${UN}EnsureProgramClosed
    Push $0
    ClearErrors
    ${Do}
        Call ${UN}CloseRunningProgram
        Pop $0
        ${If} $0 == "ok"
            ClearErrors
            ${ExitDo}
        ${EndIf}
        ${If} ${Silent}
            SetErrors
            ${ExitDo}
        ${EndIf}
        ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$0.$\r$\n$\r$\nClose Porvex398 (tray menu $\"OPC退出$\") and press Retry." IDCANCEL`
            SetErrors
            ${ExitDo}
        ${EndIf}
    ${Loop}
    Pop $0
FunctionEnd
!macroend

!insertmacro PORVEX_RUNNING_PROGRAM_FUNCTIONS ""
!insertmacro PORVEX_RUNNING_PROGRAM_FUNCTIONS "un."
