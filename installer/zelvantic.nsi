; Zelvantic for Palm 1.5: installs the Desktop Agent, the conduit and the documents in one folder.
; Built by installer/build.sh with STAGE (the files to ship) and OUTFILE defined.
Unicode true
; The 64-bit test build's installer (build/win64) is a 64-bit program too: it installs the
; 64-bit agent and conduit where 64-bit Wine runs them.
!ifdef AMD64
Target amd64-unicode
!endif
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

!ifndef WEBSITE
!error "define WEBSITE: the product web site, as in the agent's string table"
!endif

!define PRODUCT "Zelvantic"
!define PRODUCT_NAME "Zelvantic for Palm"
!define VERSION "1.5"
!define COPYRIGHT "Copyright (C) Morvane"
!define AGENT_CLASS "kelpoWindowClassv10->ovin ka spy!!!"
!define EXIT_COMMAND 40002
!define SETTINGS_KEY "Software\Morvane\Zelvantic"
!define VENDOR_KEY "Software\Morvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "Zelvantic Desktop Agent"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zelvantic"
!define CREATOR "ZLVA"
!define HKEY_LOCAL_MACHINE 0x80000002
!define KEY_SET_VALUE 0x0002
!define REG_SZ 1
!define PROCESS_QUERY_INFORMATION 0x0400
!define TOKEN_DUPLICATE_QUERY 0x000B ; TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY
!define MAXIMUM_ALLOWED 0x02000000
!define SecurityImpersonation 2
!define TokenPrimary 1
; STARTUPINFOW as the System plug-in lays it out: it aligns nothing, so a 64-bit installer's
; record is the size the compiler would give it, padding included.
!if ${NSIS_PTR_SIZE} > 4
!define STARTUPINFO_SIZE 104
!else
!define STARTUPINFO_SIZE 68
!endif
!define MANUAL "Zelvantic for Palm Product Manual.pdf"

Name "${PRODUCT_NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT_NAME} ${VERSION}"

VIProductVersion "1.5.0.0"
VIAddVersionKey "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT_NAME} ${VERSION} Setup"
VIAddVersionKey "CompanyName" "Morvane"
VIAddVersionKey "LegalCopyright" "${COPYRIGHT}"

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

!addincludedir "${__FILEDIR__}"
!include "take_back.nsh"
!include "program_folder.nsh"
!include "palm_desktop.nsh"

; Writes a machine-wide default, read by every user who has no value of their own, in the form
; the agent and the conduit give a user's own: the digit and three zero bytes, through the ANSI
; call, so that both read back exactly those four bytes.  $0 = value name, $1 = 0 or 1.
Function WriteSettingFlag
    Push $2
    Push $3
    Push $4
    System::Call 'advapi32::RegCreateKeyExW(p ${HKEY_LOCAL_MACHINE}, w "${SETTINGS_KEY}", i 0, p 0, \
        i 0, i ${KEY_SET_VALUE}, p 0, *p .r2, p 0) i .r3'
    ${If} $3 = 0
        IntOp $4 $1 + 0x30
        System::Call '*(i r4) p .r4'
        System::Call 'advapi32::RegSetValueExA(p r2, m r0, i 0, i ${REG_SZ}, p r4, i 4) i .r3'
        System::Free $4
        System::Call 'advapi32::RegCloseKey(p r2)'
    ${EndIf}
    ${If} $3 <> 0
        DetailPrint 'Could not store the setting "$0" (error $3)'
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
FunctionEnd

; The installer runs elevated; an agent started from it would be too, and a HotSync Manager that
; is not could not send it the sync result.  So it is started with the desktop shell's token, as
; the user's own start would be, or through the shell itself when that is refused.
Function StartAgentAsUser
    System::Call 'user32::GetShellWindow() p .r0'
    ${If} $0 P= 0
        FindWindow $0 "Shell_TrayWnd"
    ${EndIf}
    ${If} $0 P= 0
        ; Installed from a service or a script with no one logged on.
        DetailPrint "No desktop to start the Desktop Agent on: it starts at the next log-on"
        Return
    ${EndIf}
    StrCpy $5 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i ${PROCESS_QUERY_INFORMATION}, i 0, i r1) p .r2'
    ${If} $2 P<> 0
        System::Call 'advapi32::OpenProcessToken(p r2, i ${TOKEN_DUPLICATE_QUERY}, *p .r3) i .r4'
        ${If} $4 <> 0
            System::Call 'advapi32::DuplicateTokenEx(p r3, i ${MAXIMUM_ALLOWED}, p 0, \
                i ${SecurityImpersonation}, i ${TokenPrimary}, *p .r4) i .r6'
            ${If} $6 <> 0
                System::Alloc ${STARTUPINFO_SIZE} ; zero-filled
                Pop $6
                System::Call '*$6(i ${STARTUPINFO_SIZE})'
                System::Call '*(p, p, i, i) p .r7'
                System::Call 'advapi32::CreateProcessWithTokenW(p r4, i 0, w "$INSTDIR\agent.exe", \
                    w `"$INSTDIR\agent.exe"`, i 0, p 0, w "$INSTDIR", p r6, p r7) i .r5'
                ${If} $5 <> 0
                    System::Call '*$7(p .r8, p .r9)'
                    System::Call 'kernel32::CloseHandle(p r8)'
                    System::Call 'kernel32::CloseHandle(p r9)'
                ${EndIf}
                System::Free $7
                System::Free $6
                System::Call 'kernel32::CloseHandle(p r4)'
            ${EndIf}
            System::Call 'kernel32::CloseHandle(p r3)'
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
    ${If} $5 = 0
        ; The running shell opens it for the user, whoever asks.
        Exec '"$WINDIR\explorer.exe" "$INSTDIR\agent.exe"'
    ${EndIf}
    DetailPrint "Started the Desktop Agent"
FunctionEnd

Section "Zelvantic Desktop Agent and conduit" SecMain
    SectionIn RO
    Call CheckProgramFolder
    ${If} $0 != ""
        MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
        Abort "$0"
    ${EndIf}
    Call EndAgent
    Call PrepareProgramFolder
    Call RemoveUnshippedCode
    ; Made anew, so that each file has the folder's rights and nobody else's.
    Delete "$INSTDIR\agent.exe"
    Delete "$INSTDIR\conduit.dll"
    Delete "$INSTDIR\Readme.html"
    Delete "$INSTDIR\${MANUAL}"
    Delete "$INSTDIR\Palm\Readme.txt"
    Delete "$INSTDIR\uninstall.exe"
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

    ; Always there: the agent started with -silent stays only while "startup" is on for that
    ; user (their own choice from the menu or the conduit's check box, else this default).
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\agent.exe" -silent'

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME} ${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Morvane"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\agent.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${WEBSITE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "HelpLink" "$INSTDIR\${MANUAL}"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "${MADE_FOLDERS_VALUE}" $MadeFolders
    ; In whole kilobytes, rounded up, as Add or Remove Programs counts it.
    ${GetSize} "$INSTDIR" "/S=0B" $0 $1 $2
    IntOp $0 $0 + 1023
    IntOp $0 $0 / 1024
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The two choices only set the defaults for users who have made no choice of their own; the
; sections themselves install nothing.
Section "Start the Desktop Agent when Windows starts" SecStartup
SectionEnd

Section "Show reminders and HotSync results as balloon tips" SecBalloons
SectionEnd

Section "-Settings and start"
    ; A reinstall without an option turns the earlier choice off, too.
    StrCpy $0 "startup"
    StrCpy $1 0
    ${If} ${SectionIsSelected} ${SecStartup}
        StrCpy $1 1
    ${EndIf}
    Call WriteSettingFlag
    StrCpy $0 "tooltip"
    StrCpy $1 0
    ${If} ${SectionIsSelected} ${SecBalloons}
        StrCpy $1 1
    ${EndIf}
    Call WriteSettingFlag
    Call TakeBackEarlierGrants
    Call ForgetSharedState
    Call ReleaseProgramFolder
    ; Without -silent, so it runs whatever "startup" says, and registers the conduit.
    Call StartAgentAsUser
SectionEnd

Function .onVerifyInstDir
    Call CheckProgramFolder
    ${If} $0 != ""
        Abort
    ${EndIf}
FunctionEnd

Function .onInit
    ReadRegStr $PreviousFolder HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ; /NOSTARTUP and /NOBALLOONS: a silent install that leaves that choice off.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTARTUP" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecStartup} 0
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/NOBALLOONS" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecBalloons} 0
    ${EndIf}
FunctionEnd

; Removes the conduit's entry from the Conduit Manager unless it names another folder that
; still holds a conduit.dll (another installation of ours, which keeps working).
Function un.RemoveConduitEntry
    Call un.LoadConduitManager
    ${If} $0 P= 0
        DetailPrint "No Palm Desktop with a Conduit Manager for this user: nothing to unregister"
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
        ${If} $3 = 0
            DetailPrint "Removed the conduit from the HotSync Manager's list"
        ${Else}
            DetailPrint "The HotSync Manager's list still names the conduit: it could not be removed"
        ${EndIf}
    ${EndIf}
    System::Call 'kernel32::FreeLibrary(p r0)'
FunctionEnd

Section "Uninstall"
    ; Only the folders the installer made go, and only when nothing else is left in them.
    ClearErrors
    ReadRegDWORD $R0 HKLM "${UNINSTALL_KEY}" "${MADE_FOLDERS_VALUE}"
    ${If} ${Errors} ; 1.5 made both
        IntOp $R0 ${MADE_PROGRAM_FOLDER} | ${MADE_PALM_FOLDER}
    ${EndIf}
    Call un.EndAgent
    Call un.RemoveConduitEntry
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "${VENDOR_KEY}"
    ; The uninstalling user's own values and rates. Other users' own are out of this one's reach
    ; and stay.
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${VENDOR_KEY}"
    SetShellVarContext current
    Delete "$LOCALAPPDATA\${PRODUCT}\mrvrates.zlv"
    Delete "$LOCALAPPDATA\${PRODUCT}\mrvrates.zlv.new*"
    RMDir "$LOCALAPPDATA\${PRODUCT}"
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
    ; Only what we installed: files anyone put beside it stay, and so does their folder.
    Delete "$INSTDIR\Palm\Readme.txt"
    IntOp $R1 $R0 & ${MADE_PALM_FOLDER}
    ${If} $R1 <> 0
        RMDir "$INSTDIR\Palm"
    ${EndIf}
    Delete "$INSTDIR\uninstall.exe"
    IntOp $R1 $R0 & ${MADE_PROGRAM_FOLDER}
    ${If} $R1 <> 0
        RMDir "$INSTDIR"
    ${EndIf}
SectionEnd
