; The setup log: every step the setup program and the uninstaller take, one line each with
; the local time, appended to $TEMP\Porvex398-setup.log (UTF-16) and shown in the details
; list. A silent run (/S) by a deployment tool leaves its account's temporary folder with
; the record of what was done and why it stopped.
;
;   ${Log} "text"

!define PORVEX_LOG_NAME "Porvex398-setup.log"

Var LogFile

!macro PORVEX_LOG_FUNCTIONS UN
Function ${UN}LogOpen
    ClearErrors
    FileOpen $LogFile "$TEMP\${PORVEX_LOG_NAME}" a
    ${If} ${Errors}
        StrCpy $LogFile ""
        Return
    ${EndIf}
    Push $0
    FileSeek $LogFile 0 END $0
    ${If} $0 == 0
        FileWriteWord $LogFile 0xFEFF
    ${EndIf}
    Pop $0
FunctionEnd

Function ${UN}LogLine
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    DetailPrint "$R0"
    ${If} $LogFile != ""
        ${GetTime} "" "L" $R1 $R2 $R3 $R4 $R5 $R6 $R7
        FileWriteUTF16LE $LogFile "$R3-$R2-$R1 $R5:$R6:$R7 $R0$\r$\n"
    ${EndIf}
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd

Function ${UN}LogClose
    ${If} $LogFile != ""
        FileClose $LogFile
        StrCpy $LogFile ""
    ${EndIf}
FunctionEnd
!macroend

!insertmacro PORVEX_LOG_FUNCTIONS ""
!insertmacro PORVEX_LOG_FUNCTIONS "un."

!macro PORVEX_LOG text
    Push `${text}`
    !ifdef __UNINSTALL__
        Call un.LogLine
    !else
        Call LogLine
    !endif
!macroend
!define Log "!insertmacro PORVEX_LOG"
