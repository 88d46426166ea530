; Zelvantic for Palm 1.5: installs the Desktop Agent, the conduit and the documents in one folder.
; Built by installer/build.sh with STAGE (the files to ship) and OUTFILE defined.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!ifndef STAGE
!error "define STAGE: the folder with agent.exe, conduit.dll and the documents"
!endif
!ifndef OUTFILE
!define OUTFILE "Zelvantic-Setup-1.5.exe"
!endif

!define PRODUCT "Zelvantic"
!define VERSION "1.5"
!define AGENT_CLASS "kelpoWindowClassv10->ovin ka spy!!!"
!define EXIT_COMMAND 40002
!define SETTINGS_KEY "Software\Morvane\Zelvantic"
!define VENDOR_KEY "Software\Morvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Zelvantic Desktop Agent"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelvantic"
!define CREATOR "ZLVA"
!define MANUAL "Zelvantic for Palm Product Manual.pdf"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "1.5.0.0"
VIAddVersionKey "ProductName" "${PRODUCT} for Palm"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey "CompanyName" "Morvane"
VIAddVersionKey "LegalCopyright" "Morvane"

!ifdef ICON
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Readme.html"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the Read Me"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Asks a running Desktop Agent to end through its own Exit command, so that it removes its tray
; icon and releases its files; one that does not end within a few seconds is stopped.
!macro EndAgent prefix
Function ${prefix}EndAgent
    Push $0
    Push $1
    Push $2
    FindWindow $0 "${AGENT_CLASS}"
    ${If} $0 <> 0
        System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
        ; SYNCHRONIZE | PROCESS_TERMINATE
        System::Call 'kernel32::OpenProcess(i 0x00100001, i 0, i r1) p .r2'
        DetailPrint "Ending the running Desktop Agent"
        SendMessage $0 ${WM_COMMAND} ${EXIT_COMMAND} 0 /TIMEOUT=5000
        ${If} $2 P<> 0
            System::Call 'kernel32::WaitForSingleObject(p r2, i 5000) i .r1'
            ${If} $1 <> 0
                System::Call 'kernel32::TerminateProcess(p r2, i 1)'
                System::Call 'kernel32::WaitForSingleObject(p r2, i 2000)'
            ${EndIf}
            System::Call 'kernel32::CloseHandle(p r2)'
        ${Else}
            Sleep 1000
        ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro EndAgent ""
!insertmacro EndAgent "un."

Section "Zelvantic Desktop Agent and conduit" SecMain
    SectionIn RO
    Call EndAgent
    SetOutPath "$INSTDIR"
    File "${STAGE}\agent.exe"
    File "${STAGE}\conduit.dll"
    File "${STAGE}\Readme.html"
    File "${STAGE}\${MANUAL}"
    SetOutPath "$INSTDIR\Palm"
    File /r "${STAGE}\Palm\*.*"
    SetOutPath "$INSTDIR"

    WriteUninstaller "$INSTDIR\uninstall.exe"
    SetShellVarContext all
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Zelvantic Desktop Agent.lnk" "$INSTDIR\agent.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Read Me.lnk" "$INSTDIR\Readme.html"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Product Manual.lnk" "$INSTDIR\${MANUAL}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall Zelvantic.lnk" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} for Palm ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Morvane"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\agent.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Start the Desktop Agent when Windows starts" SecStartup
    ; Neither the agent nor the conduit adds this entry: it is the installer's to make.
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\agent.exe" -silent'
    WriteRegStr HKLM "${SETTINGS_KEY}" "startup" "1"
SectionEnd

Section "-Start the Desktop Agent"
    ${IfNot} ${SectionIsSelected} ${SecStartup}
        ; A reinstall without the option turns the earlier choice off, too.
        DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
        WriteRegStr HKLM "${SETTINGS_KEY}" "startup" "0"
    ${EndIf}
    ; Without -silent, so it runs whatever "startup" says, and registers the conduit.
    Exec '"$INSTDIR\agent.exe"'
SectionEnd

Function .onInit
    ; /NOSTARTUP: a silent install that leaves the start at log-on off.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTARTUP" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecStartup} 0
    ${EndIf}
FunctionEnd

; Removes the conduit's entry from the Conduit Manager unless it names another folder that
; still holds a conduit.dll (another installation of ours, which keeps working).
Function un.RemoveConduitEntry
    System::Call 'kernel32::LoadLibraryW(w "condmgr.dll") p .r0'
    ${If} $0 P= 0
        DetailPrint "No Conduit Manager on this computer: nothing to unregister"
        Return
    ${EndIf}
    System::Call 'kernel32::GetProcAddress(p r0, p 49) p .r1'
    System::Call 'kernel32::GetProcAddress(p r0, p 65) p .r2'
    StrCpy $4 ""
    ${If} $1 P<> 0
        System::Call '::$1(m "${CREATOR}", m .r4, *i 126) i .r3'
        ${If} $3 <> 0
            StrCpy $4 ""
        ${EndIf}
    ${EndIf}
    StrCpy $5 "$4" 1 -1
    ${If} $5 == "\"
        StrCpy $4 "$4" -1
    ${EndIf}
    ${If} $4 != ""
    ${AndIf} $4 != "$INSTDIR"
    ${AndIf} ${FileExists} "$4\conduit.dll"
        DetailPrint "The conduit entry belongs to $4: left in place"
    ${ElseIf} $2 P<> 0
        System::Call '::$2(m "${CREATOR}") i .r3'
        DetailPrint "Removed the conduit from the Conduit Manager ($3)"
    ${EndIf}
    System::Call 'kernel32::FreeLibrary(p r0)'
FunctionEnd

Section "Uninstall"
    Call un.EndAgent
    Call un.RemoveConduitEntry
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "${VENDOR_KEY}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    SetShellVarContext all
    Delete "$SMPROGRAMS\${PRODUCT}\Zelvantic Desktop Agent.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Read Me.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Product Manual.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Uninstall Zelvantic.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"

    Delete "$INSTDIR\agent.exe"
    Delete "$INSTDIR\conduit.dll"
    Delete "$INSTDIR\Readme.html"
    Delete "$INSTDIR\${MANUAL}"
    ; A download that never reached the handheld: it is of no use without the agent.
    Delete "$INSTDIR\mrvrates.zlv"
    ; Only what we installed: files the user put beside it stay, and so does their folder.
    Delete "$INSTDIR\Palm\Readme.txt"
    RMDir "$INSTDIR\Palm"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
