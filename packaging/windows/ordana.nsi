; The Windows installer: ordana.exe and ordana-cli.exe for the current user without administrator rights, or
; for all users when run elevated; the licences beside them, a Start-menu entry, an uninstaller listed in "Apps
; and features" with its size, "Open with" for the workbooks without taking over their default program, and,
; chosen on the components page (on by default for one user), ordana-cli on the user's PATH.
;   makensis -DVERSION=1.5.2 -DBINDIR=<folder of the two programs and the licences> -DICON=<ordana.ico>
;            -DOUTFILE=<setup.exe> ordana.nsi
; A silent install (/S) takes the default of the option; /PATH=1 or /PATH=0 on its command line sets it.

; A 64-bit installer for the 64-bit programs (and for Wine without its 32-bit part).
Target amd64-unicode
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "StrFunc.nsh"
${StrStr}
${UnStrRep}

!ifndef VERSION
  !error "makensis -DVERSION=..."
!endif
!define PRODUCT "Ordana"
!define PUBLISHER "Echipa Ordana"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ordana"
!define PROGID "Ordana.Registru"
!define ENVIRONMENT "Environment"

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
!insertmacro MUI_PAGE_COMPONENTS
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


Function un.onInit
  !insertmacro chooseScope
FunctionEnd

; The keys go where the scope says: SHCTX is HKLM for all users, HKCU for one.
Section "Ordana" SecMain
  SectionIn RO
  ${If} $allUsers == 1
    SetShellVarContext all
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${BINDIR}\ordana.exe"
  File "${BINDIR}\ordana-cli.exe"
  File "${BINDIR}\LICENTA.txt"
  File "${BINDIR}\expat-COPYING.txt"
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
  ; The size "Apps and features" shows, in KB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The folder of ordana-cli.exe at the end of the user's own PATH, so that a new console finds it by name. The
; uninstaller takes off exactly what was added: PathAdded says it was, PathCreated that the value was new.
Section /o "ordana-cli in PATH (linia de comanda)" SecPath
  ReadRegStr $0 HKCU "${ENVIRONMENT}" "Path"
  ${If} $0 == ""
    WriteRegExpandStr HKCU "${ENVIRONMENT}" "Path" "$INSTDIR"
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "PathCreated" 1
  ${Else}
    ${StrStr} $1 ";$0;" ";$INSTDIR;"
    ${If} $1 != ""
      Return ; already there: nothing of ours to take off later
    ${EndIf}
    WriteRegExpandStr HKCU "${ENVIRONMENT}" "Path" "$0;$INSTDIR"
  ${EndIf}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "PathAdded" 1
  ; Programs started from now on (a new console) see it.
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:${ENVIRONMENT}" /TIMEOUT=5000
SectionEnd

; After the sections, whose numbers it uses.
Function .onInit
  !insertmacro chooseScope
  ${If} $INSTDIR == ""
    ${If} $allUsers == 1
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  ; ordana-cli on the PATH: on for one user; for all users off, as it would reach only the installing user.
  ${If} $allUsers == 0
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH=" $R1
  ${IfNot} ${Errors}
    ${If} $R1 == "1"
      !insertmacro SelectSection ${SecPath}
    ${ElseIf} $R1 == "0"
      !insertmacro UnselectSection ${SecPath}
    ${EndIf}
  ${EndIf}
FunctionEnd

LangString DESC_SecMain ${LANG_ROMANIAN} "Programul Ordana si linia de comanda ordana-cli."
LangString DESC_SecPath ${LANG_ROMANIAN} "Adauga dosarul programului in PATH-ul utilizatorului: ordana-cli porneste dintr-o consola noua doar dupa nume."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} $(DESC_SecMain)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} $(DESC_SecPath)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

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

; The uninstaller runs from a copy, %TEMP%\~nsuN.tmp\Un.exe, which cannot delete itself while it runs; NSIS leaves
; it for a restart to remove. A console without window waits for the copy to end, then deletes that one file and
; the folder with a plain rmdir (never a tree), and only in a folder of %TEMP% named as NSIS names it.
Function un.onUninstSuccess
  StrLen $0 "$TEMP\~nsu"
  StrCpy $1 "$EXEDIR" $0
  ${If} $1 == "$TEMP\~nsu"
    SetOutPath "$TEMP"
    ; ping is the one pause every cmd has (Wine's as well): about two seconds, then once more.
    StrCpy $2 'ping -n 3 127.0.0.1 >nul & del /f /q "$EXEDIR\Un.exe" 2>nul & rmdir "$EXEDIR" 2>nul'
    ExecShell "open" "$SYSDIR\cmd.exe" '/d /q /c "$2 & $2"' SW_HIDE
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; The PATH first, while the uninstall key still says what was added.
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "PathAdded"
  ${If} $0 == 1
    ReadRegStr $1 HKCU "${ENVIRONMENT}" "Path"
    ReadRegDWORD $2 SHCTX "${UNINSTALL_KEY}" "PathCreated"
    ${If} $1 == "$INSTDIR"
    ${AndIf} $2 == 1
      DeleteRegValue HKCU "${ENVIRONMENT}" "Path"
    ${Else}
      ${UnStrRep} $1 "$1" ";$INSTDIR" ""
      ${UnStrRep} $1 "$1" "$INSTDIR;" ""
      ${If} $1 == "$INSTDIR"
        StrCpy $1 ""
      ${EndIf}
      WriteRegExpandStr HKCU "${ENVIRONMENT}" "Path" "$1"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:${ENVIRONMENT}" /TIMEOUT=5000
  ${EndIf}

  Delete "$INSTDIR\ordana.exe"
  Delete "$INSTDIR\ordana-cli.exe"
  Delete "$INSTDIR\LICENTA.txt"
  Delete "$INSTDIR\expat-COPYING.txt"
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
  ; The choices the windows remembered for this user.
  DeleteRegKey HKCU "Software\${PRODUCT}"
SectionEnd
