; The optional DCOM settings for OPC clients on other computers (component "DCOM access for
; remote OPC clients", off unless chosen, or /DCOM on the command line). Without them the
; server has no AppID and the computer's default DCOM permissions apply, which do not let
; remote users launch or call it. With them (all under HKLM\Software\Classes, 32-bit view):
;
;   AppID\{E8B390BF-...}            (default)            "Porvex Server(398)-V3.0"
;                                   LaunchPermission     SYSTEM, Administrators, interactive
;                                                        users and the chosen group may launch
;                                                        and activate, locally and remotely
;                                   AccessPermission     the same principals (and SELF) may
;                                                        call, locally and remotely
;                                   AuthenticationLevel  DWORD, default 5 (packet integrity)
;                                   RunAs                "Interactive User": remote clients
;                                                        reach the program the operator runs,
;                                                        never a second copy
;   AppID\Porvex398.exe             AppID                the AppID above
;   CLSID\{E8B390BF-...}            AppID                the AppID above
;
; The chosen group is a name (resolved to its SID) or a SID; the default is S-1-5-32-562,
; the built-in "Distributed COM Users". Machine-wide DCOM settings are never changed.

!define APPID_KEY "Software\Classes\AppID\${SERVER_CLSID}"
!define APPID_EXE_KEY "Software\Classes\AppID\Porvex398.exe"
!define DEFAULT_DCOM_GROUP "S-1-5-32-562"
!define DEFAULT_DCOM_AUTH_LEVEL 5
; COM_RIGHTS_EXECUTE | _LOCAL | _REMOTE | ACTIVATE_LOCAL | ACTIVATE_REMOTE, and without
; the activation rights, as SDDL right letters.
!define LAUNCH_RIGHTS "CCDCLCSWRP"
!define ACCESS_RIGHTS "CCDCLC"

Var DcomGroup
Var DcomAuthLevel

; $1 := the SID text of $DcomGroup, or "" when the name is unknown.
Function ResolveDcomGroup
    Push $0
    Push $5
    Push $7
    StrCpy $0 $DcomGroup 2
    ${If} $0 == "S-"
        StrCpy $1 $DcomGroup
    ${Else}
        StrCpy $1 ""
        System::Alloc 256
        Pop $5
        System::Call 'advapi32::LookupAccountNameW(p 0, w "$DcomGroup", p r5, *i 256, w .r7, *i ${NSIS_MAX_STRLEN}, *i .r0) i .r0'
        ${If} $0 <> 0
            System::Call 'advapi32::ConvertSidToStringSidW(p r5, *p .r7) i .r0'
            ${If} $0 <> 0
                System::Call 'kernel32::lstrcpynW(w .r1, p r7, i ${NSIS_MAX_STRLEN})'
                System::Call 'kernel32::LocalFree(p r7)'
            ${EndIf}
        ${EndIf}
        System::Free $5
    ${EndIf}
    Pop $7
    Pop $5
    Pop $0
FunctionEnd

; Writes value $2 of the AppID key as the binary security descriptor of SDDL text $3.
; $0 := 1 on success.
Function WriteSecurityValue
    Push $4
    Push $5
    Push $6
    StrCpy $0 0
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r3, i 1, *p .r4, *i .r5) i .r6'
    ${If} $6 <> 0
        ; KEY_WRITE | KEY_WOW64_32KEY under HKEY_LOCAL_MACHINE
        System::Call 'advapi32::RegCreateKeyExW(p 0x80000002, w "${APPID_KEY}", i 0, p 0, i 0, i 0x20206, p 0, *p .r6, p 0) i .r0'
        ${If} $0 == 0
            System::Call 'advapi32::RegSetValueExW(p r6, w r2, i 0, i 3, p r4, i r5) i .r0'
            System::Call 'advapi32::RegCloseKey(p r6)'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r4)'
        ${If} $0 == 0
            StrCpy $0 1
        ${Else}
            StrCpy $0 0
        ${EndIf}
    ${EndIf}
    Pop $6
    Pop $5
    Pop $4
FunctionEnd

; Sets the error flag when the settings could not be written.
Function WriteDcomSettings
    Push $0
    Push $1
    Push $2
    Push $3
    Call ResolveDcomGroup
    ${If} $1 == ""
        ${Log} "FAILED: the group '$DcomGroup' for DCOM access is unknown; no DCOM settings written"
        Pop $3
        Pop $2
        Pop $1
        Pop $0
        SetErrors
        Return
    ${EndIf}
    WriteRegStr HKLM "${APPID_KEY}" "" "Porvex Server(398)-V3.0"
    WriteRegDWORD HKLM "${APPID_KEY}" "AuthenticationLevel" $DcomAuthLevel
    WriteRegStr HKLM "${APPID_KEY}" "RunAs" "Interactive User"
    StrCpy $2 "LaunchPermission"
    StrCpy $3 "O:BAG:BAD:(A;;${LAUNCH_RIGHTS};;;SY)(A;;${LAUNCH_RIGHTS};;;BA)(A;;${LAUNCH_RIGHTS};;;IU)(A;;${LAUNCH_RIGHTS};;;$1)"
    Call WriteSecurityValue
    ${If} $0 == 1
        StrCpy $2 "AccessPermission"
        StrCpy $3 "O:BAG:BAD:(A;;${ACCESS_RIGHTS};;;PS)(A;;${ACCESS_RIGHTS};;;SY)(A;;${ACCESS_RIGHTS};;;BA)(A;;${ACCESS_RIGHTS};;;IU)(A;;${ACCESS_RIGHTS};;;$1)"
        Call WriteSecurityValue
    ${EndIf}
    ${If} $0 == 1
        WriteRegStr HKLM "${APPID_EXE_KEY}" "AppID" "${SERVER_CLSID}"
        WriteRegStr HKLM "Software\Classes\CLSID\${SERVER_CLSID}" "AppID" "${SERVER_CLSID}"
        ${Log} "wrote the DCOM settings: AppID ${SERVER_CLSID}, launch and access for $DcomGroup ($1), authentication level $DcomAuthLevel"
        ClearErrors
    ${Else}
        ${Log} "FAILED: the DCOM permissions could not be written"
        SetErrors
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

!macro PORVEX_REMOVE_DCOM_SETTINGS
    Push $0
    ClearErrors
    EnumRegValue $0 HKLM "${APPID_KEY}" 0
    ${IfNot} ${Errors}
        DeleteRegKey HKLM "${APPID_KEY}"
        ${Log} "removed the DCOM settings (AppID ${SERVER_CLSID})"
    ${EndIf}
    ReadRegStr $0 HKLM "${APPID_EXE_KEY}" "AppID"
    ${If} $0 == "${SERVER_CLSID}"
        DeleteRegKey HKLM "${APPID_EXE_KEY}"
    ${EndIf}
    ReadRegStr $0 HKLM "Software\Classes\CLSID\${SERVER_CLSID}" "AppID"
    ${If} $0 == "${SERVER_CLSID}"
        DeleteRegValue HKLM "Software\Classes\CLSID\${SERVER_CLSID}" "AppID"
    ${EndIf}
    Pop $0
!macroend
