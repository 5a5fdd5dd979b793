; The Windows installer, made by scripts/package-windows.sh with makensis:
;   makensis -DVERSION=1.00 -DVERSION_QUAD=1.0.0.0 -DSTAGE=<folder> -DICON=<v2bsp.ico>
;            -DOUTFILE=<setup.exe> installer.nsi
; STAGE is the folder of the portable zip: v2bsp-extract.exe, LICENSE.txt and,
; once the cross build makes the window, v2bsp.exe. The window is what the
; Start-menu link, "Open with" for .map files and the Finish page's "Run
; v2bsp" start; without it the installer makes none of them, since the
; command line opens no window. ICON is the programs' icon, which the cross
; build draws: the installer and the uninstaller show it too.
;
; Installed per machine (administrator rights): the programs into
; Program Files\v2bsp, the link into every user's Start menu, the uninstall
; entry and the .map registration under HKLM. The uninstaller removes its own
; files one by one and the folder only when nothing else is left in it, and
; under .map only the entries the installer made.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PUBLISHER "v2bsp developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\v2bsp"
!define CLASSES "Software\Classes"
; Our file type for maps, offered under .map's OpenWithProgids.
!define PROGID "v2bsp.Map.1"
!define SHCNE_ASSOCCHANGED 0x08000000

!ifndef ICON
  !error "ICON, the path of the programs' icon, is not defined"
!endif

!if /FileExists "${STAGE}/v2bsp.exe"
  !define WINDOW
  !define MAIN_PROGRAM "v2bsp.exe"
!else
  !define MAIN_PROGRAM "v2bsp-extract.exe"
!endif

Name "v2bsp ${VERSION}"
BrandingText "v2bsp ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\v2bsp"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" InstallLocation

VIProductVersion ${VERSION_QUAD}
VIFileVersion ${VERSION_QUAD}
VIAddVersionKey /LANG=1033 ProductName "v2bsp"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 FileDescription "v2bsp ${VERSION} setup"
VIAddVersionKey /LANG=1033 CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright 2026 ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; The licence grants rights and asks for no agreement: the page goes on with Next.
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "v2bsp is free software under this licence (Expat/MIT)."
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!ifdef WINDOW
  ; Checked: the window starts when the page closes with Finish. The page
  ; is not shown in a silent install, which so starts nothing. The window
  ; runs with the installer's rights (administrator): the NSIS here has no
  ; way to start it as the desktop's unelevated user.
  !define MUI_FINISHPAGE_RUN "$INSTDIR\v2bsp.exe"
  !define MUI_FINISHPAGE_RUN_TEXT "&Run v2bsp"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The manifest asks Windows for administrator rights, but where it does not
; ask (its prompt turned off, for a standard user) the program runs without
; them, and writing to Program Files and HKLM would fail half-way.
!macro RequireAdministrator
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "v2bsp is installed for every user of this computer, which needs administrator rights." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdministrator
FunctionEnd

Function un.onInit
  !insertmacro RequireAdministrator
FunctionEnd

Section "v2bsp"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/v2bsp-extract.exe"
!ifdef WINDOW
  File "${STAGE}/v2bsp.exe"
!endif
  File "${STAGE}/LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
!ifdef WINDOW
  CreateShortcut "$SMPROGRAMS\v2bsp.lnk" "$INSTDIR\v2bsp.exe"
  Call RegisterOpenWith
!endif
  Call WriteUninstallEntry
SectionEnd

Function WriteUninstallEntry
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "v2bsp"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\${MAIN_PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
  ; In KiB, as Windows reads it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" EstimatedSize $0
FunctionEnd

!ifdef WINDOW
; v2bsp becomes one of the programs "Open with" offers for .map files: as an
; application that names .map among its types, and through our file type
; under .map's OpenWithProgids. It opens .map on a double click only where no
; program has claimed the extension: a default that is set stays as it is.
Function RegisterOpenWith
  WriteRegStr HKLM "${CLASSES}\Applications\v2bsp.exe" FriendlyAppName "v2bsp"
  WriteRegStr HKLM "${CLASSES}\Applications\v2bsp.exe\SupportedTypes" ".map" ""
  WriteRegStr HKLM "${CLASSES}\Applications\v2bsp.exe\shell\open\command" "" '"$INSTDIR\v2bsp.exe" "%1"'
  WriteRegStr HKLM "${CLASSES}\${PROGID}" "" "Vorun 2 Map File"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\v2bsp.exe,0"
  WriteRegStr HKLM "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\v2bsp.exe" "%1"'
  WriteRegNone HKLM "${CLASSES}\.map\OpenWithProgids" "${PROGID}"
  ; What the shell reads for .map merges this user's classes over the
  ; machine's: a default in either counts. Each is read on its own, since
  ; wine's HKCR shows the machine's classes alone.
  ReadRegStr $0 HKCU "${CLASSES}\.map" ""
  ReadRegStr $1 HKLM "${CLASSES}\.map" ""
  ${If} $0$1 == ""
    WriteRegStr HKLM "${CLASSES}\.map" "" "${PROGID}"
  ${EndIf}
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
FunctionEnd
!endif

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\v2bsp.lnk"

  ReadRegStr $0 HKLM "${CLASSES}\.map" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue HKLM "${CLASSES}\.map" ""
  ${EndIf}
  DeleteRegValue HKLM "${CLASSES}\.map\OpenWithProgids" "${PROGID}"
  ; Each only when no other program's value or key is left in it.
  DeleteRegKey /ifempty HKLM "${CLASSES}\.map\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "${CLASSES}\.map"
  DeleteRegKey HKLM "${CLASSES}\${PROGID}"
  DeleteRegKey HKLM "${CLASSES}\Applications\v2bsp.exe"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'

  StrCpy $R0 "v2bsp.exe"
  Call un.DeleteProgram
  StrCpy $R0 "v2bsp-extract.exe"
  Call un.DeleteProgram
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  IfRebootFlag 0 +2
    RMDir /REBOOTOK "$INSTDIR"
  ; Last, so that its absence tells that the uninstaller has finished.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Deletes $INSTDIR\$R0. A running program's file cannot be deleted: the user
; closes it and retries, or on Cancel (and when silent) it is deleted at the
; next restart, the folder with it.
Function un.DeleteProgram
  retry:
  ClearErrors
  Delete "$INSTDIR\$R0"
  IfErrors 0 done
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
    "$R0 is running. Close it and choose Retry, or choose Cancel to have it removed when Windows restarts." \
    /SD IDCANCEL IDRETRY retry
  Delete /REBOOTOK "$INSTDIR\$R0"
  done:
FunctionEnd
