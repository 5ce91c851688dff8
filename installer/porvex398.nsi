; The setup program of the door server: Porvex398-<version>-setup.exe, built by
; scripts/package with makensis (docs/installer.md describes it).
;
;   makensis -DBUILD_DIR=<win32 build tree> -DOUTFILE=<setup.exe> [-DPORVEX_VERSION=<x.y.z.w>]
;            installer/porvex398.nsi
;
; Command line of the setup program (besides NSIS's own /S and /D=<folder>, which must come
; last):
;   /NOCONTROL, /CONTROL    leave out or add the Tarnet ActiveX control
;   /NOTOOLS, /TOOLS        leave out or add the tools opcclient.exe and ctlsim.exe
;   /DCOM, /NODCOM          write or remove the DCOM settings for remote OPC clients
;   /ACCESSGROUP=<group>    the group (name or SID) that DCOM lets launch and call the server
;   /AUTHLEVEL=<1..6>       the DCOM authentication level (default 5, packet integrity)
; Without them a new installation takes the control and the tools and no DCOM settings; an
; upgrade keeps the choices of the installation it replaces.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!ifndef BUILD_DIR
    !error "BUILD_DIR (the win32 build tree) must be defined"
!endif
!ifndef OUTFILE
    !define OUTFILE "${BUILD_DIR}/Porvex398-setup.exe"
!endif
!include "${BUILD_DIR}/installer/porvex-version.nsh"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include nsDialogs.nsh
!include StrFunc.nsh
${StrStr}
${UnStrTok}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Porvex398"
!define START_MENU_FOLDER "Porvex"
; The shipped files, prepared by scripts/package.
!define FILES "${BUILD_DIR}/installer/files"

Name "${PORVEX_PRODUCT_NAME} ${PORVEX_VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Porvex"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PORVEX_PRODUCT_NAME} ${PORVEX_VERSION}"

VIProductVersion "${PORVEX_VERSION}"
VIAddVersionKey "ProductName" "${PORVEX_PRODUCT_NAME}"
VIAddVersionKey "CompanyName" "${PORVEX_PUBLISHER}"
VIAddVersionKey "FileDescription" "${PORVEX_PRODUCT_NAME} setup"
VIAddVersionKey "FileVersion" "${PORVEX_VERSION}"
VIAddVersionKey "ProductVersion" "${PORVEX_VERSION}"
VIAddVersionKey "LegalCopyright" "${PORVEX_PUBLISHER}"

!include "log.nsh"
!include "running-program.nsh"
!include "registration.nsh"
!include "dcom.nsh"

Var PreviousVersion

!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT UserAbort
!define MUI_COMPONENTSPAGE_SMALLDESC
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
Page custom DcomPageShow DcomPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.html"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "!Porvex398 door server (required)" SecServer
    SectionIn RO
    ${If} $PreviousVersion != ""
        ${Log} "upgrading the installation in $INSTDIR (version $PreviousVersion) to ${PORVEX_VERSION}"
    ${Else}
        ${Log} "installing version ${PORVEX_VERSION} into $INSTDIR"
    ${EndIf}
    Call EnsureProgramClosed
    ${If} ${Errors}
        ${Log} "FAILED: Porvex398 is still running; nothing was replaced"
        SetErrorLevel 3
        Call LogClose
        Abort "Porvex398 is still running."
    ${EndIf}

    SetOutPath "$INSTDIR"
    SetOverwrite on
    File "${FILES}/Porvex398.exe"
    File "${FILES}/ZorvikAccess.dll"
    File "${FILES}/PorvexOpcPS.dll"
    File "${FILES}/README.html"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ${Log} "copied Porvex398.exe, ZorvikAccess.dll, PorvexOpcPS.dll, README.html, uninstall.exe"

    Call RegisterProxyStub
    ${IfNot} ${Errors}
        Call RegisterOpcServer
    ${EndIf}
    ${If} ${Errors}
        SetErrorLevel 4
        Call WriteUninstallEntry
        Call LogClose
        Abort "The OPC server could not be registered (see $TEMP\${PORVEX_LOG_NAME})."
    ${EndIf}

    CreateDirectory "$SMPROGRAMS\${START_MENU_FOLDER}"
    CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\Porvex398.lnk" "$INSTDIR\Porvex398.exe"
    CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\README.lnk" "$INSTDIR\README.html"
    CreateShortcut "$SMPROGRAMS\${START_MENU_FOLDER}\Uninstall Porvex398.lnk" "$INSTDIR\uninstall.exe"
    ${Log} "created the Start Menu folder $SMPROGRAMS\${START_MENU_FOLDER}"
SectionEnd

Section "Tarnet ActiveX control" SecControl
    SetOutPath "$INSTDIR"
    File "${FILES}/Tarnet.ocx"
    Call RegisterControl
    ${If} ${Errors}
        SetErrorLevel 4
        Call WriteUninstallEntry
        Call LogClose
        Abort "The control could not be registered (see $TEMP\${PORVEX_LOG_NAME})."
    ${EndIf}
SectionEnd

Section "Tools: opcclient and ctlsim" SecTools
    SetOutPath "$INSTDIR"
    File "${FILES}/opcclient.exe"
    File "${FILES}/ctlsim.exe"
    ${Log} "copied opcclient.exe and ctlsim.exe"
SectionEnd

Section /o "DCOM access for remote OPC clients" SecDcom
    Call WriteDcomSettings
    ${If} ${Errors}
        SetErrorLevel 4
        Call WriteUninstallEntry
        Call LogClose
        Abort "The DCOM settings could not be written (see $TEMP\${PORVEX_LOG_NAME})."
    ${EndIf}
SectionEnd

; An upgrade that leaves out a component the previous installation had removes it.
Section "-Components left out"
    ${IfNot} ${SectionIsSelected} ${SecControl}
        !insertmacro PORVEX_REMOVE_CONTROL
    ${EndIf}
    ${IfNot} ${SectionIsSelected} ${SecTools}
        ${If} ${FileExists} "$INSTDIR\opcclient.exe"
        ${OrIf} ${FileExists} "$INSTDIR\ctlsim.exe"
            Delete "$INSTDIR\opcclient.exe"
            Delete "$INSTDIR\ctlsim.exe"
            ${Log} "removed the tools opcclient.exe and ctlsim.exe"
        ${EndIf}
    ${EndIf}
    ${IfNot} ${SectionIsSelected} ${SecDcom}
        !insertmacro PORVEX_REMOVE_DCOM_SETTINGS
    ${EndIf}
    Call WriteUninstallEntry
    ${Log} "setup finished: version ${PORVEX_VERSION} in $INSTDIR"
    Call LogClose
SectionEnd

!include "uninstall.nsh"

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecServer} "The door server and OPC DA server Porvex398.exe, the controller access library ZorvikAccess.dll and the OPC proxy/stub PorvexOpcPS.dll, registered."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecControl} "The ActiveX control Tarnet.ocx for other host programs, registered."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecTools} "The command-line OPC client opcclient.exe and the controller simulator ctlsim.exe."
    !insertmacro MUI_DESCRIPTION_TEXT ${SecDcom} "Lets a chosen group launch and call the OPC server from other computers (an AppID with launch and access permissions). Off unless chosen."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

!macro PORVEX_OPTION NAME SECTION ONOFF
    ClearErrors
    ${GetOptions} $0 "/${NAME}" $1
    ${IfNot} ${Errors}
        !if ${ONOFF} == on
            !insertmacro SelectSection ${SECTION}
        !else
            !insertmacro UnselectSection ${SECTION}
        !endif
    ${EndIf}
!macroend

Function .onInit
    SetShellVarContext all
    SetRegView 32
    Call LogOpen
    ${GetParameters} $0
    ${Log} "${PORVEX_PRODUCT_NAME} setup ${PORVEX_VERSION}, command line: $0"
    ReadRegStr $PreviousVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ReadRegStr $CreatedCategories HKLM "${UNINSTALL_KEY}" "CreatedCategories"
    ReadRegStr $DcomGroup HKLM "${UNINSTALL_KEY}" "DcomGroup"
    ReadRegDWORD $DcomAuthLevel HKLM "${UNINSTALL_KEY}" "DcomAuthLevel"
    ${If} $DcomGroup == ""
        StrCpy $DcomGroup "${DEFAULT_DCOM_GROUP}"
    ${EndIf}
    ${If} $DcomAuthLevel == ""
    ${OrIf} $DcomAuthLevel == 0
        StrCpy $DcomAuthLevel ${DEFAULT_DCOM_AUTH_LEVEL}
    ${EndIf}

    ; An upgrade replaces the installation where it is (a /D= elsewhere would leave the old
    ; files and registration behind) and keeps its components.
    ${If} $PreviousVersion != ""
        ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $1 != ""
        ${AndIf} $1 != $INSTDIR
            ${Log} "the installation being upgraded is in $1: installing there, not in $INSTDIR"
            StrCpy $INSTDIR $1
        ${EndIf}
        ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "ComponentControl"
        ${If} $1 == 0
            !insertmacro UnselectSection ${SecControl}
        ${EndIf}
        ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "ComponentTools"
        ${If} $1 == 0
            !insertmacro UnselectSection ${SecTools}
        ${EndIf}
        ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "ComponentDcom"
        ${If} $1 == 1
            !insertmacro SelectSection ${SecDcom}
        ${EndIf}
    ${EndIf}

    !insertmacro PORVEX_OPTION NOCONTROL ${SecControl} off
    !insertmacro PORVEX_OPTION CONTROL ${SecControl} on
    !insertmacro PORVEX_OPTION NOTOOLS ${SecTools} off
    !insertmacro PORVEX_OPTION TOOLS ${SecTools} on
    !insertmacro PORVEX_OPTION NODCOM ${SecDcom} off
    !insertmacro PORVEX_OPTION DCOM ${SecDcom} on
    ClearErrors
    ${GetOptions} $0 "/ACCESSGROUP=" $1
    ${IfNot} ${Errors}
    ${AndIf} $1 != ""
        StrCpy $DcomGroup $1
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/AUTHLEVEL=" $1
    ${IfNot} ${Errors}
        ${If} $1 < 1
        ${OrIf} $1 > 6
            ${Log} "FAILED: /AUTHLEVEL= takes 1 to 6, not '$1'"
            Call LogClose
            SetErrorLevel 2
            Quit
        ${EndIf}
        StrCpy $DcomAuthLevel $1
    ${EndIf}
FunctionEnd

Function .onInstFailed
    Call LogClose
FunctionEnd

Function UserAbort
    ${Log} "cancelled by the user"
    Call LogClose
FunctionEnd

Function SkipDirectoryOnUpgrade
    ${If} $PreviousVersion != ""
        Abort
    ${EndIf}
FunctionEnd

; The group for DCOM access, asked for only when the DCOM component is chosen.
Var DcomGroupField
Function DcomPageShow
    ${IfNot} ${SectionIsSelected} ${SecDcom}
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "DCOM access" "Who may launch and call the OPC server from other computers"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 36u "The group below may launch Porvex398 and call its OPC interfaces from other computers (as well as SYSTEM, Administrators and interactive users). Give a group name or a SID; S-1-5-32-562 is the built-in group $\"Distributed COM Users$\"."
    Pop $0
    ${NSD_CreateText} 0 42u 100% 12u "$DcomGroup"
    Pop $DcomGroupField
    nsDialogs::Show
FunctionEnd

Function DcomPageLeave
    ${NSD_GetText} $DcomGroupField $0
    ${If} $0 == ""
        MessageBox MB_OK|MB_ICONEXCLAMATION "Give a group name or a SID."
        Abort
    ${EndIf}
    StrCpy $DcomGroup $0
FunctionEnd
