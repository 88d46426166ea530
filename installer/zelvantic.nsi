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
!define PALM_DESKTOP_KEY "Software\U.S. Robotics\Pilot Desktop\Core"
!define CONDUIT_MANAGER "condmgr.dll"
!define HKEY_CURRENT_USER 0x80000001
!define HKEY_LOCAL_MACHINE 0x80000002
!define KEY_QUERY_VALUE 0x0001
!define KEY_SET_VALUE 0x0002
!define REG_SZ 1
!define REG_EXPAND_SZ 2
!define SE_FILE_OBJECT 1
!define SE_REGISTRY_KEY 4
!define OWNER_SECURITY_INFORMATION 1
!define DACL_SECURITY_INFORMATION 4
!define READ_WRITE_DAC 0x60000 ; READ_CONTROL | WRITE_DAC
!define READ_WRITE_DAC_OWNER 0xE0000 ; and WRITE_OWNER
!define ACCESS_ALLOWED_ACE_TYPE 0
!define INHERITABLE 3 ; OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
!define INHERITED_ACE 0x10
!define ACE_SID_OFFSET 8 ; after the 4-byte header and the 4-byte access mask
!define SHARE_ALL 7
!define OPEN_EXISTING 3
!define FILE_FLAG_BACKUP_SEMANTICS 0x02000000 ; a folder opens only so
!define LOAD_WITH_ALTERED_SEARCH_PATH 8
!define USERS_SID "S-1-5-32-545"
!define ADMINISTRATORS_SID "S-1-5-32-544"
!define CREATOR_OWNER_SID "S-1-3-0"
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

; Takes back what an earlier installer granted on one object, through the handle this installer
; opened, so it is the object that installer wrote (the 32-bit registry view on 64-bit Windows):
; every allowing entry of the object's own (not inherited) for the group SID in $2, or with $3 not
; 0 only those that pass on with one of the inheritance flags in $3. Every other entry stays.
; $0 = handle, $1 = object type.  $5 = 0 on success, nothing to take back included.
Function TakeBackGrant
    Push $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    StrCpy $5 -1
    System::Call 'advapi32::ConvertStringSidToSidW(w r2, *p .R0) i .R1'
    ${If} $R1 <> 0
        System::Call 'advapi32::GetSecurityInfo(p r0, i r1, i ${DACL_SECURITY_INFORMATION}, \
            p 0, p 0, *p .R1, p 0, *p .R2) i .r5'
        ${If} $5 = 0
            StrCpy $R6 0 ; entries taken out
            StrCpy $R3 0
            ${If} $R1 P<> 0 ; no access list at all names nobody
                System::Call '*$R1(&i1, &i1, &i2, &i2 .R3)' ; ACL header: the entry count
            ${EndIf}
            ; From the last, so that the entries still to look at keep their numbers.
            ${DoWhile} $R3 > 0
                IntOp $R3 $R3 - 1
                System::Call 'advapi32::GetAce(p R1, i R3, *p .R4) i .R5'
                ${If} $R5 = 0
                    StrCpy $5 -1
                    ${Break}
                ${EndIf}
                System::Call '*$R4(&i1 .R5, &i1 .R7)' ; entry type and flags
                IntOp $R7 $R7 & 0xFF
                ${If} $R5 <> ${ACCESS_ALLOWED_ACE_TYPE}
                    ${Continue}
                ${EndIf}
                IntOp $R5 $R7 & ${INHERITED_ACE}
                ${If} $R5 <> 0
                    ${Continue}
                ${EndIf}
                IntOp $R5 $R7 & $3
                ${If} $3 <> 0
                ${AndIf} $R5 = 0
                    ${Continue}
                ${EndIf}
                IntPtrOp $R5 $R4 + ${ACE_SID_OFFSET}
                System::Call 'advapi32::EqualSid(p R5, p R0) i .R5'
                ${If} $R5 <> 0
                    System::Call 'advapi32::DeleteAce(p R1, i R3) i .R5'
                    ${If} $R5 = 0
                        StrCpy $5 -1
                        ${Break}
                    ${EndIf}
                    IntOp $R6 $R6 + 1
                ${EndIf}
            ${Loop}
            ${If} $5 = 0
            ${AndIf} $R6 > 0
                System::Call 'advapi32::SetSecurityInfo(p r0, i r1, \
                    i ${DACL_SECURITY_INFORMATION}, p 0, p 0, p R1, p 0) i .r5'
            ${EndIf}
            System::Call 'kernel32::LocalFree(p R2)'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p R0)'
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

; Earlier installers let the Users group change the settings key, its rights and its owner
; included, and add files to the program folder, each added file its creator's: code one user
; put there ran as every other user, and one user's values were everyone's. Each user's own
; values and rates now live in that user's own key and folder, so nobody needs more than reading
; here; what was granted is taken back, and the key is the Administrators' again whoever took it.
Function TakeBackEarlierGrants
    StrCpy $5 -1
    System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_LOCAL_MACHINE}, w "${SETTINGS_KEY}", i 0, \
        i ${READ_WRITE_DAC_OWNER}, *p .r0) i .r1'
    ${If} $1 = 0
        System::Call 'advapi32::ConvertStringSidToSidW(w "${ADMINISTRATORS_SID}", *p .r2) i .r3'
        ${If} $3 <> 0
            System::Call 'advapi32::GetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, \
                i ${OWNER_SECURITY_INFORMATION}, *p .r3, p 0, p 0, p 0, *p .r4) i .r5'
            ${If} $5 = 0
                System::Call 'advapi32::EqualSid(p r3, p r2) i .r3'
                System::Call 'kernel32::LocalFree(p r4)'
                ${If} $3 = 0
                    System::Call 'advapi32::SetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, \
                        i ${OWNER_SECURITY_INFORMATION}, p r2, p 0, p 0, p 0) i .r5'
                ${EndIf}
            ${EndIf}
            System::Call 'kernel32::LocalFree(p r2)'
        ${EndIf}
        ${If} $5 = 0
            StrCpy $1 ${SE_REGISTRY_KEY}
            StrCpy $2 ${USERS_SID}
            StrCpy $3 0
            Call TakeBackGrant
        ${EndIf}
        System::Call 'advapi32::RegCloseKey(p r0)'
    ${EndIf}
    ${If} $5 <> 0
        DetailPrint "Could not take back what every user was let do to the settings (error $5)"
    ${EndIf}
    StrCpy $5 -1
    System::Call 'kernel32::CreateFileW(w "$INSTDIR", i ${READ_WRITE_DAC}, i ${SHARE_ALL}, p 0, \
        i ${OPEN_EXISTING}, i ${FILE_FLAG_BACKUP_SEMANTICS}, p 0) p .r0'
    ${If} $0 P<> -1
        StrCpy $1 ${SE_FILE_OBJECT}
        StrCpy $2 ${USERS_SID}
        StrCpy $3 0
        Call TakeBackGrant
        ${If} $5 = 0
            StrCpy $2 ${CREATOR_OWNER_SID}
            StrCpy $3 ${INHERITABLE}
            Call TakeBackGrant
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
    ${EndIf}
    ${If} $5 <> 0
        DetailPrint "Could not take back what every user was let add to $INSTDIR (error $5)"
    ${EndIf}
FunctionEnd

; What earlier versions kept for everyone in shared places and each user now keeps as their own:
; the agent's window, its folder and the day of the last download, and the rates file with its
; temporary copy.
Function ForgetSharedState
    DeleteRegValue HKLM "${SETTINGS_KEY}" "hwnd"
    DeleteRegValue HKLM "${SETTINGS_KEY}" "target"
    DeleteRegValue HKLM "${SETTINGS_KEY}" "lastupdate"
    Delete "$INSTDIR\mrvrates.zlv"
    Delete "$INSTDIR\mrvrates.zlv.new"
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
    ; Without -silent, so it runs whatever "startup" says, and registers the conduit.
    Call StartAgentAsUser
SectionEnd

Function .onInit
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

; One of the values Palm Desktop keeps for its user, as the agent reads it: the blanks and quotes
; around it go, environment names are expanded in an expandable text, and only a drive path or a
; network path counts (a relative one would be looked for wherever the uninstaller runs).
; $1 = value name.  $2 = the path, "" when there is none.
Function un.PalmDesktopValue
    Push $3
    Push $4
    Push $5
    ClearErrors
    ReadRegStr $2 HKCU "${PALM_DESKTOP_KEY}" $1
    ${If} ${Errors}
        StrCpy $2 ""
    ${EndIf}
    System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_CURRENT_USER}, w "${PALM_DESKTOP_KEY}", i 0, \
        i ${KEY_QUERY_VALUE}, *p .r3) i .r4'
    ${If} $4 = 0
        System::Call 'advapi32::RegQueryValueExW(p r3, w r1, p 0, *i 0 .r4, p 0, p 0)'
        System::Call 'advapi32::RegCloseKey(p r3)'
        ${If} $4 = ${REG_EXPAND_SZ}
            ExpandEnvStrings $2 $2
        ${EndIf}
    ${EndIf}
    ${Do}
        StrCpy $3 $2 1
        ${If} $3 != " "
        ${AndIf} $3 != '"'
            ${ExitDo}
        ${EndIf}
        StrCpy $2 $2 "" 1
    ${Loop}
    ${Do}
        StrCpy $3 $2 1 -1
        ${If} $3 != " "
        ${AndIf} $3 != '"'
            ${ExitDo}
        ${EndIf}
        StrCpy $2 $2 -1
    ${Loop}
    StrCpy $3 $2 1
    StrCpy $4 $2 1 1
    StrCpy $5 $2 1 2
    ${If} $4 == ":"
        ; A drive path: a letter, a colon and a separator.
        ${If} $5 != "\"
        ${AndIf} $5 != "/"
            StrCpy $2 ""
        ${EndIf}
    ${ElseIf} $3 == "\"
    ${OrIf} $3 == "/"
        ; A network path: two separators and a host, not a device (\\.\ or \\?\).
        ${If} $4 != "\"
        ${AndIf} $4 != "/"
            StrCpy $2 ""
        ${ElseIf} $5 == ""
        ${OrIf} $5 == "\"
        ${OrIf} $5 == "/"
        ${OrIf} $5 == "."
        ${OrIf} $5 == "?"
            StrCpy $2 ""
        ${EndIf}
    ${Else}
        StrCpy $2 ""
    ${EndIf}
    Pop $5
    Pop $4
    Pop $3
FunctionEnd

; The Conduit Manager of the uninstalling user's Palm Desktop, found as the agent finds it: in the
; folder "Path" names, else in the folder of the HotSync Manager that "HotSyncPath" names; loaded
; by its full path, with the libraries it needs from that folder. Never by bare name, which would
; take whatever library of that name lies where Windows looks first.  $0 = module, 0 when none.
Function un.LoadConduitManager
    Push $1
    Push $2
    Push $3
    StrCpy $0 0
    StrCpy $1 "Path"
    Call un.PalmDesktopValue
    ${If} $2 == ""
        StrCpy $1 "HotSyncPath"
        Call un.PalmDesktopValue
        ${Do} ; the HotSync Manager's own file name goes
            StrCpy $3 $2 1 -1
            ${If} $2 == ""
            ${OrIf} $3 == "\"
            ${OrIf} $3 == "/"
                ${ExitDo}
            ${EndIf}
            StrCpy $2 $2 -1
        ${Loop}
    ${EndIf}
    ${Do}
        StrCpy $3 $2 1 -1
        ${If} $3 != "\"
        ${AndIf} $3 != "/"
            ${ExitDo}
        ${EndIf}
        StrCpy $2 $2 -1
    ${Loop}
    ${If} $2 != ""
        System::Call 'kernel32::LoadLibraryExW(w "$2\${CONDUIT_MANAGER}", p 0, \
            i ${LOAD_WITH_ALTERED_SEARCH_PATH}) p .r0'
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
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
    ; A download that never reached the handheld, where Windows has no per-user folders: it is of
    ; no use without the agent.
    Delete "$INSTDIR\mrvrates.zlv"
    Delete "$INSTDIR\mrvrates.zlv.new*"
    ; Only what we installed: files the user put beside it stay, and so does their folder.
    Delete "$INSTDIR\Palm\Readme.txt"
    RMDir "$INSTDIR\Palm"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
