; Morrow's installer for 64-bit Windows, built by scripts/windows-package with makensis:
;   makensis -DVERSION=0.1 -DSTAGE=folder-of-the-files -DOUTFILE=morrow-0.1-win64-setup.exe morrow.nsi
; A per-machine install into Program Files with a Start menu entry and an uninstaller that Windows
; lists under installed programs. Morrow is offered (not made the default) for .E01 evidence in
; Explorer's "Open with". `setup.exe /S` installs silently, `uninstall.exe /S` removes silently.
; A 64-bit installer for 64-bit programs: it runs where they run, and sees the 64-bit registry and
; Program Files without redirection.
Target amd64-unicode

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef STAGE
  !error "STAGE is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "morrow-${VERSION}-win64-setup.exe"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morrow"
!define PROGID "Morrow.EvidenceImage"

Name "Morrow ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Morrow"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
LicenseData "${STAGE}\LICENSE.txt"

Page license
Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Morrow (required)" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\morrow.exe"
  File "${STAGE}\morrow-cli.exe"
  File "${STAGE}\Pellucid.hlp"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Morrow.lnk" "$INSTDIR\morrow.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Morrow"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Morrow developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\morrow.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Offered, not forced: Morrow joins the programs Explorer lists under "Open with" for .E01 files;
; whatever opens them now stays the default.
Section "Offer Morrow to open .E01 evidence" SecE01
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Evidence image"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\morrow.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\morrow.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.E01\OpenWithProgids" "${PROGID}" ""
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Morrow.lnk"
  Delete "$INSTDIR\morrow.exe"
  Delete "$INSTDIR\morrow-cli.exe"
  Delete "$INSTDIR\Pellucid.hlp"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: files an examiner put there stay.
  RMDir "$INSTDIR"
  DeleteRegValue HKLM "Software\Classes\.E01\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.E01\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.E01"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
