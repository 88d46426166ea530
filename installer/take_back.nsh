; What an install over an earlier version takes back and forgets. Included by zelvantic.nsi.
!define SE_FILE_OBJECT 1
!define SE_REGISTRY_KEY 4
!define OWNER_SECURITY_INFORMATION 1
!define DACL_SECURITY_INFORMATION 4
!define UNPROTECTED_DACL_SECURITY_INFORMATION 0x20000000 ; and takes the parent's
!define READ_CONTROL 0x20000
!define READ_WRITE_DAC_OWNER 0xE0000 ; READ_CONTROL | WRITE_DAC | WRITE_OWNER
!define CONTAINER_INHERIT_ACE 0x2
!define NO_PROPAGATE_INHERIT_ACE 0x4
!define INHERIT_ONLY_ACE 0x8
!define PASSED_ON_FLAGS 0x3 ; object and container inherit
!define ACCESS_ALLOWED_ACE_TYPE 0
!define ACCESS_DENIED_ACE_TYPE 1
!define ACE_SID_OFFSET 8 ; after the 4-byte header and the 4-byte access mask
!define WinCreatorOwnerSid 3
!define WinCreatorGroupSid 4
!define INHERITED_ACE 0x10
!define ACL_REVISION 2
!define ACL_HEADER_SIZE 8
!define OPEN_EXISTING 3
!define FILE_FLAG_BACKUP_SEMANTICS 0x02000000 ; a folder opens only so
!define ADMINISTRATORS_SID "S-1-5-32-544"

; The key's own rights as a new key under its parent gets them: each entry the parent passes on
; to keys, marked as inherited, and nothing of the key's own. The list is worked out here rather
; than left to Windows so that it is the same wherever the installer runs. $0 = the key, opened
; with READ_CONTROL and WRITE_DAC, in the same registry view as its parent. $5 = 0 on success.
Function RestoreInheritedRights
    Push $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    Push $R8
    Push $R9
    Push $1
    StrCpy $R8 0 ; the key's new list
    System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_LOCAL_MACHINE}, w "${VENDOR_KEY}", i 0, \
        i ${READ_CONTROL}, *p .R0) i .r5'
    ${If} $5 = 0
        System::Call 'advapi32::GetSecurityInfo(p R0, i ${SE_REGISTRY_KEY}, \
            i ${DACL_SECURITY_INFORMATION}, p 0, p 0, *p .R1, p 0, *p .R2) i .r5'
        System::Call 'advapi32::RegCloseKey(p R0)'
    ${EndIf}
    ${If} $5 = 0
        StrCpy $R3 0
        StrCpy $R4 0
        ${If} $R1 P<> 0 ; without a list the parent passes nothing on
            System::Call '*$R1(&i1, &i1, &i2 .R4, &i2 .R3)' ; ACL header: its size, its entries
        ${EndIf}
        IntOp $R4 $R4 + ${ACL_HEADER_SIZE}
        System::Alloc $R4
        Pop $R8
        System::Call 'advapi32::InitializeAcl(p R8, i R4, i ${ACL_REVISION}) i .R5'
        StrCpy $R6 0 ; entries passed on
        StrCpy $R7 0 ; entries looked at
        ${Do}
            ${If} $R5 = 0
            ${OrIf} $R7 >= $R3
                ${ExitDo}
            ${EndIf}
            System::Call 'advapi32::GetAce(p R1, i R7, *p .R0) i .R5'
            IntOp $R7 $R7 + 1
            ${If} $R5 = 0
                ${ExitDo}
            ${EndIf}
            System::Call '*$R0(&i1 .R4, &i1 .R9)' ; entry type and flags
            ${If} $R4 <> ${ACCESS_ALLOWED_ACE_TYPE}
            ${AndIf} $R4 <> ${ACCESS_DENIED_ACE_TYPE}
                ${Continue}
            ${EndIf}
            IntOp $R4 $R9 & ${CONTAINER_INHERIT_ACE}
            ${If} $R4 = 0 ; passed on to files only, or not at all
                ${Continue}
            ${EndIf}
            ; A creator's entry reaches the key only as the creator's (an administrator, who
            ; has rights of its own) and is passed on as it stands.
            IntPtrOp $R4 $R0 + ${ACE_SID_OFFSET}
            System::Call 'advapi32::IsWellKnownSid(p R4, i ${WinCreatorOwnerSid}) i .r1'
            ${If} $1 = 0
                System::Call 'advapi32::IsWellKnownSid(p R4, i ${WinCreatorGroupSid}) i .r1'
            ${EndIf}
            IntOp $R4 $R9 & ${NO_PROPAGATE_INHERIT_ACE}
            ${If} $R4 <> 0
                ${If} $1 <> 0
                    ${Continue}
                ${EndIf}
                StrCpy $R9 ${INHERITED_ACE} ; for the key alone
            ${Else}
                IntOp $R9 $R9 & ${PASSED_ON_FLAGS}
                IntOp $R9 $R9 | ${INHERITED_ACE}
                ${If} $1 <> 0
                    IntOp $R9 $R9 | ${INHERIT_ONLY_ACE}
                ${EndIf}
            ${EndIf}
            System::Call '*$R0(&i1, &i1, &i2 .R4)' ; entry size
            System::Call 'advapi32::AddAce(p R8, i ${ACL_REVISION}, i -1, p R0, i R4) i .R5'
            ${If} $R5 <> 0
                ; The copy is the list's last entry: its flags become the key's.
                System::Call 'advapi32::GetAce(p R8, i R6, *p .R0) i .R5'
                IntPtrOp $R0 $R0 + 1
                System::Call '*$R0(&i1 R9)'
                IntOp $R6 $R6 + 1
            ${EndIf}
        ${Loop}
        ${If} $R5 = 0
            StrCpy $5 -1
        ${ElseIf} $R6 = 0
            StrCpy $5 -2 ; a parent that passes nothing on would leave the key to nobody
        ${Else}
            System::Call 'advapi32::SetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, \
                i ${DACL_SECURITY_INFORMATION}|${UNPROTECTED_DACL_SECURITY_INFORMATION}, \
                p 0, p 0, p R8, p 0) i .r5'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p R2)'
    ${EndIf}
    ${If} $R8 P<> 0
        System::Free $R8
    ${EndIf}
    Pop $1
    Pop $R9
    Pop $R8
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
; included, so any user could have added entries of their own for anyone. Each user's own values
; now live in that user's own key, so the key gets back the rights of a key no one has touched,
; and the Administrators group owns it again whoever took it.
Function TakeBackEarlierGrants
    StrCpy $5 -1
    System::Call 'advapi32::RegOpenKeyExW(p ${HKEY_LOCAL_MACHINE}, w "${SETTINGS_KEY}", i 0, \
        i ${READ_WRITE_DAC_OWNER}, *p .r0) i .r1'
    ${If} $1 = 0
        Call RestoreInheritedRights
        ${If} $5 = 0
            System::Call 'advapi32::ConvertStringSidToSidW(w "${ADMINISTRATORS_SID}", *p .r2) i .r3'
            ${If} $3 <> 0
                System::Call 'advapi32::SetSecurityInfo(p r0, i ${SE_REGISTRY_KEY}, \
                    i ${OWNER_SECURITY_INFORMATION}, p r2, p 0, p 0, p 0) i .r5'
                System::Call 'kernel32::LocalFree(p r2)'
            ${EndIf}
        ${EndIf}
        System::Call 'advapi32::RegCloseKey(p r0)'
    ${EndIf}
    ${If} $5 <> 0
        DetailPrint "Could not give the settings key back its own rights (error $5)"
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
