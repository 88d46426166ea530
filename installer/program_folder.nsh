; The program folder: a folder of its own on a local fixed drive that only administrators and the
; system may change, whatever folder the administrator picks. Included by zelvantic.nsi.
; Everything in it runs as every user who logs on (the start at log-on) and inside the HotSync
; Manager, so no user may add, change or replace a file there.
!define PROGRAM_FOLDER_RIGHTS "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
; A folder inside it has nothing of its own: it takes the program folder's rights.
!define INHERITING_FOLDER_RIGHTS "O:BAD:"
!define PROTECTED_DACL_SECURITY_INFORMATION 0x80000000
!define FILE_READ_ATTRIBUTES 0x80
!define FILE_SHARE_READ_WRITE 3 ; not delete: while it is held, nobody renames it away
!define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
!define FILE_ATTRIBUTE_DIRECTORY 0x10
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define FILE_PERSISTENT_ACLS 0x8
!define DRIVE_FIXED 3
!define BY_HANDLE_FILE_INFORMATION_SIZE 52
!define SDDL_REVISION_1 1
; What Windows or the product would load or open from the program folder: libraries, programs and
; scripts, redirections of what a program loads, and help files (WinHelp runs their macros).
!define LOADABLE_KINDS " dll ocx cpl drv ax sys exe com scr pif bat cmd vbs vbe js jse wsf wsh hta msi msp ps1 manifest local hlp chm cnt "
; What this version puts there of those kinds: replaced, not reported as removed.
!define SHIPPED_CODE " agent.exe conduit.dll uninstall.exe "
; Which folders the installer made, kept in the uninstall entry so that the uninstaller removes
; only those.
!define MADE_FOLDERS_VALUE "SetupMadeFolders"
!define MADE_PROGRAM_FOLDER 1
!define MADE_PALM_FOLDER 2

Var PreviousFolder ; where an earlier version was installed, "" for none
Var ProgramFolderHandle
Var MadeFolders

; Why $INSTDIR cannot be the program folder, in $0; "" when it can. A folder on a network or a
; removable drive has rights that are not this computer's to give; a drive's root or a folder
; Windows or every user shares would be taken away from everyone else.
!macro CheckProgramFolder prefix
Function ${prefix}CheckProgramFolder
    Push $1
    Push $2
    StrCpy $0 ""
    StrCpy $1 $INSTDIR 1 1
    StrCpy $2 $INSTDIR 1 2
    ${If} $1 != ":"
    ${OrIf} $2 != "\"
        StrCpy $0 "Choose a folder on a drive of this computer."
    ${Else}
        StrCpy $1 $INSTDIR 3
        System::Call 'kernel32::GetDriveTypeW(w r1) i .r2'
        StrCpy $1 $INSTDIR "" 3
        ${If} $2 <> ${DRIVE_FIXED}
            StrCpy $0 "Choose a folder on a fixed drive of this computer, not a network or removable drive."
        ${ElseIf} $1 == ""
        ${OrIf} $INSTDIR == $WINDIR
        ${OrIf} $INSTDIR == $SYSDIR
        ${OrIf} $INSTDIR == $PROGRAMFILES32
        ${OrIf} $INSTDIR == $PROGRAMFILES64
        ${OrIf} $INSTDIR == $COMMONFILES32
        ${OrIf} $INSTDIR == $COMMONFILES64
        ${OrIf} $INSTDIR == $PROFILE
        ${OrIf} $INSTDIR == $TEMP
            StrCpy $0 "Choose a folder of its own for ${PRODUCT}: the one chosen is shared with others."
        ${Else}
            ${GetParent} $PROFILE $1 ; where every user's profile lies
            ${If} $INSTDIR == $1
                StrCpy $0 "Choose a folder of its own for ${PRODUCT}: the one chosen is shared with others."
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $2
    Pop $1
FunctionEnd
!macroend
!insertmacro CheckProgramFolder ""

; Gives the folder $0 the rights $1 (SDDL: owner and access list), $2 saying whether its list is
; protected from its parent's or takes it. Opened without following a link, so the rights land
; on this folder and nowhere a link might lead. $3 = the handle, still open; $5 = 0 on success,
; else the error, -1 when $0 is a link or not a folder. The folder must exist.
Function ProtectFolder
    Push $4
    Push $6
    Push $7
    Push $8
    StrCpy $5 -1
    System::Call 'kernel32::CreateFileW(w r0, i ${READ_WRITE_DAC_OWNER}|${FILE_READ_ATTRIBUTES}, \
        i ${FILE_SHARE_READ_WRITE}, p 0, i ${OPEN_EXISTING}, \
        i ${FILE_FLAG_BACKUP_SEMANTICS}|${FILE_FLAG_OPEN_REPARSE_POINT}, p 0) p .r3 ?e'
    Pop $4
    ${If} $3 P= -1
        StrCpy $5 $4
        StrCpy $3 0
    ${Else}
        System::Call '*(&i${BY_HANDLE_FILE_INFORMATION_SIZE}) p .r6'
        System::Call 'kernel32::GetFileInformationByHandle(p r3, p r6) i .r4'
        System::Call '*$6(i .r7)'
        System::Free $6
        IntOp $8 $7 & ${FILE_ATTRIBUTE_REPARSE_POINT}
        IntOp $7 $7 & ${FILE_ATTRIBUTE_DIRECTORY}
        ${If} $4 <> 0
        ${AndIf} $7 <> 0
        ${AndIf} $8 = 0
            System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, \
                i ${SDDL_REVISION_1}, *p .r6, p 0) i .r4 ?e'
            Pop $5
            ${If} $4 <> 0
                System::Call 'advapi32::GetSecurityDescriptorOwner(p r6, *p .r7, *i .r4)'
                System::Call 'advapi32::GetSecurityDescriptorDacl(p r6, *i .r4, *p .r8, *i .r4)'
                System::Call 'advapi32::SetSecurityInfo(p r3, i ${SE_FILE_OBJECT}, \
                    i ${OWNER_SECURITY_INFORMATION}|${DACL_SECURITY_INFORMATION}|$2, \
                    p r7, p 0, p r8, p 0) i .r5'
                System::Call 'kernel32::LocalFree(p r6)'
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $8
    Pop $7
    Pop $6
    Pop $4
FunctionEnd

; Whether the drive of $INSTDIR keeps rights at all (FAT does not: there every user may change
; every file, Windows' own included). $6 = non-zero when it does.
Function DriveKeepsRights
    Push $1
    Push $2
    StrCpy $1 $INSTDIR 3
    System::Call 'kernel32::GetVolumeInformationW(w r1, p 0, i 0, p 0, p 0, *i 0 .r2, p 0, i 0) i .r6'
    ${If} $6 <> 0
        IntOp $6 $2 & ${FILE_PERSISTENT_ACLS}
    ${EndIf}
    Pop $2
    Pop $1
FunctionEnd

; Makes the program folder and its "Palm" folder, and gives them their rights before anything is
; put there. The program folder stays open (ProgramFolderHandle) until the install ends, so that
; it cannot be swapped for another while files go in. Aborts when the folder cannot be protected.
Function PrepareProgramFolder
    StrCpy $MadeFolders 0
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        IntOp $MadeFolders $MadeFolders | ${MADE_PROGRAM_FOLDER}
    ${EndIf}
    ${IfNot} ${FileExists} "$INSTDIR\Palm\*.*"
        IntOp $MadeFolders $MadeFolders | ${MADE_PALM_FOLDER}
    ${EndIf}
    ${If} $PreviousFolder == $INSTDIR
        ; An earlier install's folders are the installer's as well; 1.5 made both.
        ClearErrors
        ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "${MADE_FOLDERS_VALUE}"
        ${If} ${Errors}
            IntOp $0 ${MADE_PROGRAM_FOLDER} | ${MADE_PALM_FOLDER}
        ${EndIf}
        IntOp $MadeFolders $MadeFolders | $0
    ${EndIf}
    CreateDirectory "$INSTDIR"
    CreateDirectory "$INSTDIR\Palm"
    StrCpy $0 "$INSTDIR"
    StrCpy $1 "${PROGRAM_FOLDER_RIGHTS}"
    StrCpy $2 ${PROTECTED_DACL_SECURITY_INFORMATION}
    Call ProtectFolder
    StrCpy $ProgramFolderHandle $3
    ${If} $5 = 0
        StrCpy $0 "$INSTDIR\Palm"
        StrCpy $1 "${INHERITING_FOLDER_RIGHTS}"
        StrCpy $2 ${UNPROTECTED_DACL_SECURITY_INFORMATION}
        Call ProtectFolder
        ${If} $3 P<> 0
            System::Call 'kernel32::CloseHandle(p r3)'
        ${EndIf}
    ${EndIf}
    ${If} $5 > 0
        Call DriveKeepsRights
        ${If} $6 = 0
            DetailPrint "The drive of $INSTDIR keeps no rights: every user may change its files"
            Return
        ${EndIf}
    ${EndIf}
    ${If} $5 <> 0
        ${If} $5 = -1
            StrCpy $1 "$0 is a link to another folder, or no folder."
        ${Else}
            StrCpy $1 "Only administrators could be let change $0 (error $5)."
        ${EndIf}
        MessageBox MB_OK|MB_ICONSTOP "$1 Choose a folder of its own for ${PRODUCT}." /SD IDOK
        Call ReleaseProgramFolder
        Abort "$1"
    ${EndIf}
    DetailPrint "Only administrators may change $INSTDIR; every user may read and run its files"
FunctionEnd

Function ReleaseProgramFolder
    ${If} $ProgramFolderHandle P<> 0
        System::Call 'kernel32::CloseHandle(p $ProgramFolderHandle)'
        StrCpy $ProgramFolderHandle 0
    ${EndIf}
FunctionEnd

; Removes $R9 and everything in it, a link as itself: never what a link names.
Function RemoveTreeNoLinks
    Push $0
    Push $1
    Push $2
    System::Call 'kernel32::GetFileAttributesW(w R9) i .r2'
    IntOp $2 $2 & ${FILE_ATTRIBUTE_REPARSE_POINT}
    ${If} $2 = 0
        FindFirst $0 $1 "$R9\*"
        ${DoWhile} $1 != ""
            ${If} $1 != "."
            ${AndIf} $1 != ".."
                ${If} ${FileExists} "$R9\$1\*.*"
                    Push $R9
                    StrCpy $R9 "$R9\$1"
                    Call RemoveTreeNoLinks
                    Pop $R9
                ${Else}
                    SetFileAttributes "$R9\$1" NORMAL
                    Delete "$R9\$1"
                ${EndIf}
            ${EndIf}
            FindNext $0 $1
        ${Loop}
        FindClose $0
    ${EndIf}
    RMDir "$R9"
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; In the folder an earlier version was installed in, and nowhere else: what its users were let
; add and this version does not install, of the kinds Windows or the product would load or open
; from there. Other files stay: they may be someone's data. Each removal is in the details.
Function RemoveUnshippedCode
    ${If} $PreviousFolder != $INSTDIR
        Return
    ${EndIf}
    Push $R0
    Push $R1
    Push $R2
    Push $R9
    FindFirst $R0 $R1 "$INSTDIR\*"
    ${DoWhile} $R1 != ""
        ${GetFileExt} "$R1" $R2
        System::Call 'shlwapi::StrStrIW(w "$R2", w " ") p .R9' ; a blank would match two kinds
        System::Call 'shlwapi::StrStrIW(w "${LOADABLE_KINDS}", w " $R2 ") p .R2'
        ${If} $R2 P<> 0
        ${AndIf} $R9 P= 0
            System::Call 'shlwapi::StrStrIW(w "${SHIPPED_CODE}", w " $R1 ") p .R2'
        ${Else}
            StrCpy $R2 1 ; not of those kinds: stays
        ${EndIf}
        ${If} $R2 P= 0
        ${AndIf} $R1 != "."
        ${AndIf} $R1 != ".."
            StrCpy $R9 "$INSTDIR\$R1"
            ${If} ${FileExists} "$R9\*.*"
                Call RemoveTreeNoLinks ; a .local folder of libraries, or a link
            ${Else}
                SetFileAttributes "$R9" NORMAL
                Delete "$R9"
            ${EndIf}
            ${If} ${FileExists} "$R9"
                DetailPrint "Could not remove $R9, which this version does not install"
            ${Else}
                DetailPrint "Removed $R9, which this version does not install"
            ${EndIf}
        ${EndIf}
        FindNext $R0 $R1
    ${Loop}
    FindClose $R0
    Pop $R9
    Pop $R2
    Pop $R1
    Pop $R0
FunctionEnd
