; The uninstalling user's own Palm Desktop and its Conduit Manager. Included by zelvantic.nsi.
!define PALM_DESKTOP_KEY "Software\U.S. Robotics\Pilot Desktop\Core"
!define CONDUIT_MANAGER "condmgr.dll"
!define HKEY_CURRENT_USER 0x80000001
!define KEY_QUERY_VALUE 0x0001
!define REG_EXPAND_SZ 2
!define LOAD_WITH_ALTERED_SEARCH_PATH 8

; One of the values Palm Desktop keeps for its user, as the agent reads it: the blanks and quotes
; around it go, environment names are expanded in an expandable text, and only a path on a fixed
; drive counts (a relative one would be looked for wherever the uninstaller runs).
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
    ; A folder on a fixed drive of this computer: a network folder (a share, WebDAV, a mapped
    ; drive) or a removable one would give the uninstaller, which runs as an administrator,
    ; code that is not this computer's to trust.
    StrCpy $3 $2 1 1
    StrCpy $4 $2 1 2
    StrCpy $5 0
    ${If} $3 == ":"
        ${If} $4 == "\"
        ${OrIf} $4 == "/"
            StrCpy $5 1
        ${EndIf}
    ${EndIf}
    ${If} $5 = 0
        StrCpy $2 ""
    ${Else}
        StrCpy $3 $2 2
        System::Call 'kernel32::GetDriveTypeW(w "$3\") i .r4'
        ${If} $4 <> ${DRIVE_FIXED}
            StrCpy $2 ""
        ${EndIf}
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
