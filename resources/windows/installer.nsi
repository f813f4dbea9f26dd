; The Windows installer: the program under Program Files, a Start-menu entry and an uninstaller that is
; listed with the system's installed programs. Built by scripts/package.sh with makensis, which passes
; /DSETTINGS=build-win/packaging/installer-settings.nsh (VERSION, EXE, CLI, and PLACEHOLDER for a build that
; carries placeholder firmware, written by the build) and /DOUTFILE=the installer to make.

; A 64-bit installer for a 64-bit program.
Target amd64-unicode
!include "${SETTINGS}"
SetCompressor /SOLID lzma
!include "x64.nsh"

!define PRODUCT "LC/LX Software Updater"
!define FOLDER "LCLX Software Updater"
!define PUBLISHER "Kestrel Audio"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LCLX_Software_Updater"

!ifdef PLACEHOLDER
  Name "${PRODUCT} ${VERSION} (placeholder firmware)"
!else
  Name "${PRODUCT} ${VERSION}"
!endif
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${FOLDER}"
; Writing under Program Files and the machine's Start menu needs an administrator, and nothing more.
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" "GPL-3.0"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=LCLX_Software_Updater.exe" "${EXE}"
  File "/oname=lclx-update.exe" "${CLI}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${FOLDER}"
  CreateShortcut "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk" "$INSTDIR\LCLX_Software_Updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\LCLX_Software_Updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\LCLX_Software_Updater.exe"
  Delete "$INSTDIR\lclx-update.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${FOLDER}\${FOLDER}.lnk"
  RMDir "$SMPROGRAMS\${FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
