; COM registration of the installed files, in this order, and its removal in the reverse
; order:
;   1. PorvexOpcPS.dll  the OPC interfaces' proxy/stub (DllRegisterServer), which every OPC
;                       client in another process needs;
;   2. Porvex398.exe    the OPC server class (-regserver): CLSID, ProgID
;                       Porvex398.PorvexServer.3, its OPC component categories, the vendor key;
;   3. Tarnet.ocx       the ActiveX control with its type library (optional component).
; Every key goes to the 32-bit registry view (SetRegView 32 in porvex398.nsi): on 64-bit
; Windows these are 32-bit COM servers.
;
; The OPC component categories "OPC Data Access Servers Version 2.0/1.0" are shared by every
; OPC server of the computer: Porvex398 -unregserver only withdraws the server's claim. The
; setup records whether the categories existed before it registered the server
; (OpcCategoriesCreated in the uninstall key); the uninstaller removes a category only when
; this setup created it and no other class claims it any more.

!define SERVER_CLSID "{E8B390BF-326A-452D-ACF7-49F4C60FF13E}"
!define SERVER_PROGID "Porvex398.PorvexServer.3"
!define CATID_OPC_DA20 "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"
!define CATID_OPC_DA10 "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"
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

; $0 := 1 when the category key exists.
!macro PORVEX_CATEGORY_EXISTS CATID
    StrCpy $0 0
    ClearErrors
    EnumRegValue $1 HKLM "${CATEGORIES_KEY}\${CATID}" 0
    ${IfNot} ${Errors}
        StrCpy $0 1
    ${EndIf}
!macroend

; Registers the OPC server class. Remembers in $OpcCategoriesCreated (bit 1: DA 2.0,
; bit 2: DA 1.0) which categories did not exist before.
Var OpcCategoriesCreated
Function RegisterOpcServer
    Push $0
    Push $1
    !insertmacro PORVEX_CATEGORY_EXISTS ${CATID_OPC_DA20}
    ${If} $0 == 0
        IntOp $OpcCategoriesCreated $OpcCategoriesCreated | 1
    ${EndIf}
    !insertmacro PORVEX_CATEGORY_EXISTS ${CATID_OPC_DA10}
    ${If} $0 == 0
        IntOp $OpcCategoriesCreated $OpcCategoriesCreated | 2
    ${EndIf}
    ; -silent: a failure is reported through the exit code and standard error, never in a
    ; message box that a silent installation would wait for.
    nsExec::ExecToStack '"$INSTDIR\Porvex398.exe" -regserver -silent'
    Pop $0
    Pop $1
    ClearErrors
    ${If} $0 == 0
        ${Log} "registered the OPC server ${SERVER_PROGID} (Porvex398 -regserver)"
    ${Else}
        ${Log} "FAILED: Porvex398 -regserver returned $0: $1"
        SetErrors
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

Function RegisterControl
    ClearErrors
    RegDLL "$INSTDIR\Tarnet.ocx"
    ${If} ${Errors}
        ${Log} "FAILED: registering the control $INSTDIR\Tarnet.ocx (DllRegisterServer)"
    ${Else}
        ${Log} "registered the control Tarnet.ocx and its type library"
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

!macro PORVEX_REMOVE_CATEGORY BIT CATID
    IntOp $1 $OpcCategoriesCreated & ${BIT}
    ${If} $1 <> 0
        Push ${CATID}
        Call un.CategoryClaimed
        ${If} $0 == 0
            DeleteRegKey HKLM "${CATEGORIES_KEY}\${CATID}"
            ${Log} "removed the OPC component category ${CATID} (created by this setup, claimed by no other class)"
        ${Else}
            ${Log} "kept the OPC component category ${CATID}: another class claims it"
        ${EndIf}
    ${EndIf}
!macroend

Function un.RemoveOpcCategories
    Push $0
    Push $1
    !insertmacro PORVEX_REMOVE_CATEGORY 1 ${CATID_OPC_DA20}
    !insertmacro PORVEX_REMOVE_CATEGORY 2 ${CATID_OPC_DA10}
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
