; What an install over an earlier version takes back and forgets. Included by zelvantic.nsi.
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
!define USERS_SID "S-1-5-32-545"
!define ADMINISTRATORS_SID "S-1-5-32-544"
!define CREATOR_OWNER_SID "S-1-3-0"

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
