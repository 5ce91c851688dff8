; COM registration of the installed files, in this order, and its removal in the reverse
; order:
;   1. PorvexOpcPS.dll  the OPC interfaces' proxy/stub (DllRegisterServer), which every OPC
;                       client in another process needs;
;   2. Porvex398.exe    the OPC server classes (-regserver): CLSIDs, ProgIDs
;                       Porvex398.PorvexServer.3 (Data Access) and Porvex398.PorvexEvents.1
;                       (Alarms & Events), their OPC component categories, the vendor key;
;   3. Tarnet.ocx       the ActiveX control with its type library (optional component).
; Every key goes to the 32-bit registry view (SetRegView 32 in porvex398.nsi): on 64-bit
; Windows these are 32-bit COM servers.
;
; Component categories ("OPC Data Access Servers Version 2.0/1.0" and any other a class of
; ours claims) are shared by every class of the computer that claims them: unregistering
; only withdraws our claim. The setup notes which categories did not exist before it
; registered the server and the control (CreatedCategories in the uninstall key, "{id};..."),
; and the uninstaller removes such a category only when no class claims it any more.

!define SERVER_CLSID "{E8B390BF-326A-452D-ACF7-49F4C60FF13E}"
!define SERVER_PROGID "Porvex398.PorvexServer.3"
!define EVENTS_CLSID "{3C5E7A1B-2D4F-4B8E-9A61-7F0C2E9B5D34}"
!define TARNET_CLSID "{53FC4E32-4C7A-4F81-B8C0-B5FCA7AD0975}"
!define CATEGORIES_KEY "Software\Classes\Component Categories"

; Sets the error flag when a step fails (the step and its reason are logged).
Function RegisterProxyStub
    ClearErrors
    RegDLL "$INSTDIR\PorvexOpcPS.dll"
    ${If} ${Errors}
        ${Log} "FAILED: registering the proxy/stub $INSTDIR\PorvexOpcPS.dll (DllRegisterServer)"
    ${Else}
        ${Log} "registered the proxy/stub PorvexOpcPS.dll"
    ${EndIf}
FunctionEnd

; The categories that exist before a registration: ";{id};{id};...;".
Var CategoriesBefore
; The categories this setup created (kept over upgrades): "{id};{id};".
Var CreatedCategories

Function SnapshotCategories
    Push $0
    Push $1
    StrCpy $CategoriesBefore ";"
    StrCpy $0 0
    ${Do}
        ClearErrors
        EnumRegKey $1 HKLM "${CATEGORIES_KEY}" $0
        ${If} ${Errors}
        ${OrIf} $1 == ""
            ${ExitDo}
        ${EndIf}
        StrCpy $CategoriesBefore "$CategoriesBefore$1;"
        IntOp $0 $0 + 1
    ${Loop}
    Pop $1
    Pop $0
FunctionEnd

; Adds to $CreatedCategories the categories the class (on the stack) claims that did not
; exist at the last SnapshotCategories.
Function NoteCreatedCategories
    Exch $2
    Push $0
    Push $1
    Push $3
    StrCpy $0 0
    ${Do}
        ClearErrors
        EnumRegKey $1 HKLM "Software\Classes\CLSID\$2\Implemented Categories" $0
        ${If} ${Errors}
        ${OrIf} $1 == ""
            ${ExitDo}
        ${EndIf}
        ${StrStr} $3 "$CategoriesBefore" ";$1;"
        ${If} $3 == ""
            ${StrStr} $3 ";$CreatedCategories" ";$1;"
            ${If} $3 == ""
                StrCpy $CreatedCategories "$CreatedCategories$1;"
                ${Log} "created the component category $1"
            ${EndIf}
        ${EndIf}
        IntOp $0 $0 + 1
    ${Loop}
    Pop $3
    Pop $1
    Pop $0
    Pop $2
FunctionEnd

; Registers the OPC server class; sets the error flag when that fails.
Function RegisterOpcServer
    Push $0
    Push $1
    Call SnapshotCategories
    ; -silent: a failure is reported through the exit code and standard error, never in a
    ; message box that a silent installation would wait for.
    nsExec::ExecToStack '"$INSTDIR\Porvex398.exe" -regserver -silent'
    Pop $0
    Pop $1
    ClearErrors
    ${If} $0 == 0
        ${Log} "registered the OPC server ${SERVER_PROGID} (Porvex398 -regserver)"
        Push "${SERVER_CLSID}"
        Call NoteCreatedCategories
        Push "${EVENTS_CLSID}"
        Call NoteCreatedCategories
        ClearErrors
    ${Else}
        ${Log} "FAILED: Porvex398 -regserver returned $0: $1"
        SetErrors
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

Function RegisterControl
    Call SnapshotCategories
    ClearErrors
    RegDLL "$INSTDIR\Tarnet.ocx"
    ${If} ${Errors}
        ${Log} "FAILED: registering the control $INSTDIR\Tarnet.ocx (DllRegisterServer)"
    ${Else}
        ${Log} "registered the control Tarnet.ocx and its type library"
        Push "${TARNET_CLSID}"
        Call NoteCreatedCategories
        ClearErrors
    ${EndIf}
FunctionEnd

; Unregisters the control and deletes its file (uninstall, or an upgrade that drops it).
!macro PORVEX_REMOVE_CONTROL
    ${If} ${FileExists} "$INSTDIR\Tarnet.ocx"
        ClearErrors
        UnRegDLL "$INSTDIR\Tarnet.ocx"
        ${If} ${Errors}
            ${Log} "FAILED: unregistering the control Tarnet.ocx (DllUnregisterServer)"
        ${Else}
            ${Log} "unregistered the control Tarnet.ocx"
        ${EndIf}
        Delete "$INSTDIR\Tarnet.ocx"
    ${EndIf}
!macroend

Function un.UnregisterOpcServer
    Push $0
    Push $1
    ${If} ${FileExists} "$INSTDIR\Porvex398.exe"
        nsExec::ExecToStack '"$INSTDIR\Porvex398.exe" -unregserver -silent'
        Pop $0
        Pop $1
        ${If} $0 == 0
            ${Log} "unregistered the OPC server ${SERVER_PROGID} (Porvex398 -unregserver)"
        ${Else}
            ${Log} "FAILED: Porvex398 -unregserver returned $0: $1"
        ${EndIf}
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

; $0 := 1 when some class of the computer still claims the category.
Function un.CategoryClaimed
    Exch $2  ; the category ID
    Push $1
    Push $3
    StrCpy $0 0
    StrCpy $3 0
    ${Do}
        ClearErrors
        EnumRegKey $1 HKLM "Software\Classes\CLSID" $3
        ${If} ${Errors}
        ${OrIf} $1 == ""
            ${ExitDo}
        ${EndIf}
        ClearErrors
        EnumRegValue $1 HKLM "Software\Classes\CLSID\$1\Implemented Categories\$2" 0
        ${IfNot} ${Errors}
            StrCpy $0 1
            ${ExitDo}
        ${EndIf}
        IntOp $3 $3 + 1
    ${Loop}
    Pop $3
    Pop $1
    Pop $2
FunctionEnd

; Removes each category in $CreatedCategories that no class claims any more.
Function un.RemoveCreatedCategories
    Push $0
    Push $1
    Push $2
    StrCpy $1 $CreatedCategories
    ${Do}
        ${UnStrTok} $2 "$1" ";" 0 0
        ${If} $2 == ""
            ${ExitDo}
        ${EndIf}
        StrLen $0 $2
        IntOp $0 $0 + 1
        StrCpy $1 $1 "" $0
        Push $2
        Call un.CategoryClaimed
        ${If} $0 == 0
            DeleteRegKey HKLM "${CATEGORIES_KEY}\$2"
            ${Log} "removed the component category $2 (created by this setup, claimed by no class)"
        ${Else}
            ${Log} "kept the component category $2: another class claims it"
        ${EndIf}
    ${Loop}
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

Function un.UnregisterProxyStub
    ${If} ${FileExists} "$INSTDIR\PorvexOpcPS.dll"
        ClearErrors
        UnRegDLL "$INSTDIR\PorvexOpcPS.dll"
        ${If} ${Errors}
            ${Log} "FAILED: unregistering the proxy/stub PorvexOpcPS.dll (DllUnregisterServer)"
        ${Else}
            ${Log} "unregistered the proxy/stub PorvexOpcPS.dll"
        ${EndIf}
    ${EndIf}
FunctionEnd
