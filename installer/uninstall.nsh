; The entry in "Programs and Features" and the uninstaller.
;
; The uninstaller closes a running Porvex398, undoes the registration in the reverse order
; of the setup (DCOM settings, control, OPC server, the component categories this setup
; created and no class claims any more, proxy/stub), deletes the files and the Start Menu folder, then the
; entry. The door server's settings (HKLM\Software\Microsoft\Windows\Help) are the site's
; configuration and stay, as does anything else a user put into the folder.

; Writes the entry (also after a failed registration, so that the uninstaller can clean up).
Function WriteUninstallEntry
    Push $0
    Push $1
    Push $2
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PORVEX_PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PORVEX_VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PORVEX_PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Porvex398.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
    ; What this installation chose and created, for upgrades and the uninstaller.
    ${If} ${SectionIsSelected} ${SecControl}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentControl" 1
    ${Else}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentControl" 0
    ${EndIf}
    ${If} ${SectionIsSelected} ${SecTools}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentTools" 1
    ${Else}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentTools" 0
    ${EndIf}
    ${If} ${SectionIsSelected} ${SecDcom}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentDcom" 1
    ${Else}
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "ComponentDcom" 0
    ${EndIf}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DcomGroup" "$DcomGroup"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "DcomAuthLevel" $DcomAuthLevel
    WriteRegStr HKLM "${UNINSTALL_KEY}" "CreatedCategories" "$CreatedCategories"
    ${Log} "wrote the Programs and Features entry (${UNINSTALL_KEY}, $0 KB)"
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 32
    Call un.LogOpen
    ReadRegStr $CreatedCategories HKLM "${UNINSTALL_KEY}" "CreatedCategories"
FunctionEnd

Function un.onUninstFailed
    Call un.LogClose
FunctionEnd

Section "Uninstall"
    ${Log} "uninstalling ${PORVEX_PRODUCT_NAME} ${PORVEX_VERSION} from $INSTDIR"
    Call un.EnsureProgramClosed
    ${If} ${Errors}
        ${Log} "FAILED: Porvex398 is still running; nothing was removed"
        SetErrorLevel 3
        Call un.LogClose
        Abort "Porvex398 is still running."
    ${EndIf}

    !insertmacro PORVEX_REMOVE_DCOM_SETTINGS
    !insertmacro PORVEX_REMOVE_CONTROL
    Call un.UnregisterOpcServer
    Call un.RemoveCreatedCategories
    Call un.UnregisterProxyStub

    Delete "$INSTDIR\opcclient.exe"
    Delete "$INSTDIR\ctlsim.exe"
    Delete "$INSTDIR\Porvex398.exe"
    Delete "$INSTDIR\ZorvikAccess.dll"
    Delete "$INSTDIR\PorvexOpcPS.dll"
    Delete "$INSTDIR\README.html"
    ; The program's own log beside it, and the previous one after a rollover.
    Delete "$INSTDIR\Porvex398.log"
    Delete "$INSTDIR\Porvex398.log.1"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ${If} ${FileExists} "$INSTDIR\*.*"
        ${Log} "kept $INSTDIR: it holds files this setup did not install"
    ${EndIf}
    ${Log} "removed the files"

    Delete "$SMPROGRAMS\${START_MENU_FOLDER}\Porvex398.lnk"
    Delete "$SMPROGRAMS\${START_MENU_FOLDER}\README.lnk"
    Delete "$SMPROGRAMS\${START_MENU_FOLDER}\Uninstall Porvex398.lnk"
    RMDir "$SMPROGRAMS\${START_MENU_FOLDER}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${Log} "uninstall finished; the settings under HKLM\Software\Microsoft\Windows\Help were kept"
    Call un.LogClose
SectionEnd
