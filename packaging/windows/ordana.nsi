; The Windows installer: ordana.exe and ordana-cli.exe for the current user without administrator rights, or
; for all users when run elevated; a Start-menu entry, an uninstaller listed in "Apps and features", and
; "Open with" for the workbooks without taking over their default program.
;   makensis -DVERSION=1.5.2 -DBINDIR=<folder of the two programs> -DICON=<ordana.ico> -DOUTFILE=<setup.exe> ordana.nsi

; A 64-bit installer for the 64-bit programs (and for Wine without its 32-bit part).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!ifndef VERSION
  !error "makensis -DVERSION=..."
!endif
!define PRODUCT "Ordana"
!define PUBLISHER "Echipa Ordana"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ordana"
!define PROGID "Ordana.Registru"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; Elevation is never asked for: an elevated start installs for everybody, a plain one for its user.
RequestExecutionLevel user
SetCompressor /SOLID lzma
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1048 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1048 "FileDescription" "Instalarea programului ${PRODUCT}"
VIAddVersionKey /LANG=1048 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1048 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1048 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1048 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Romanian"

Var allUsers

; HKLM and Program Files when elevated, HKCU and the user's own programs folder otherwise.
!macro chooseScope
  StrCpy $allUsers 0
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    ; An administrator's token is elevated only when the machine keys can be written.
    ClearErrors
    WriteRegStr HKLM "Software\${PRODUCT}" "probe" "1"
    ${IfNot} ${Errors}
      DeleteRegValue HKLM "Software\${PRODUCT}" "probe"
      DeleteRegKey /ifempty HKLM "Software\${PRODUCT}"
      StrCpy $allUsers 1
    ${EndIf}
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${If} $allUsers == 1
    SetShellVarContext all
    SetRegView 64
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  !insertmacro chooseScope
  ${If} $INSTDIR == ""
    ${If} $allUsers == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro chooseScope
FunctionEnd

; The keys go where the scope says: SHCTX is HKLM for all users, HKCU for one.
Section "Ordana"
  ${If} $allUsers == 1
    SetShellVarContext all
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${BINDIR}\ordana.exe"
  File "${BINDIR}\ordana-cli.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ordana.exe" "" "$INSTDIR\ordana.exe" 0

  ; "Open with": the program and the types it offers itself for, and a ProgID beside each type's own.
  WriteRegStr SHCTX "Software\Classes\Applications\ordana.exe" "FriendlyAppName" "${PRODUCT}"
  WriteRegStr SHCTX "Software\Classes\Applications\ordana.exe\DefaultIcon" "" "$INSTDIR\ordana.exe,0"
  WriteRegStr SHCTX "Software\Classes\Applications\ordana.exe\shell\open\command" "" '"$INSTDIR\ordana.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "Registru de calcul (Ordana)"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\ordana.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\ordana.exe" "%1"'
  !macro openWith ext
    WriteRegStr SHCTX "Software\Classes\Applications\ordana.exe\SupportedTypes" "${ext}" ""
    WriteRegStr SHCTX "Software\Classes\${ext}\OpenWithProgids" "${PROGID}" ""
  !macroend
  !insertmacro openWith ".xls"
  !insertmacro openWith ".xlsx"
  !insertmacro openWith ".xlsm"
  !insertmacro openWith ".ods"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ordana.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Deletes the key $R0 only when nothing at all is left in it: no value (the default one included) and no
; subkey. DeleteRegKey /ifempty looks at the subkeys alone and would take another program's values with it.
Function un.removeIfEmpty
  EnumRegValue $R1 SHCTX $R0 0
  EnumRegKey $R2 SHCTX $R0 0
  ClearErrors
  ReadRegStr $R3 SHCTX $R0 ""
  ${If} $R1 == ""
  ${AndIf} $R2 == ""
  ${AndIf} $R3 == ""
    DeleteRegKey SHCTX $R0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\ordana.exe"
  Delete "$INSTDIR\ordana-cli.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  ; Only what was added: the types' own keys and default programs stay.
  !macro closeWith ext
    DeleteRegValue SHCTX "Software\Classes\${ext}\OpenWithProgids" "${PROGID}"
    StrCpy $R0 "Software\Classes\${ext}\OpenWithProgids"
    Call un.removeIfEmpty
    StrCpy $R0 "Software\Classes\${ext}"
    Call un.removeIfEmpty
  !macroend
  !insertmacro closeWith ".xls"
  !insertmacro closeWith ".xlsx"
  !insertmacro closeWith ".xlsm"
  !insertmacro closeWith ".ods"
  DeleteRegKey SHCTX "Software\Classes\Applications\ordana.exe"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
