; The Windows installer: both programs, the README and the licence in
; Program Files, a Start menu entry for the window, and an uninstaller that
; Windows lists under its installed apps. scripts/build-windows passes
; VERSION, STAGE (the folder the zip is made of) and OUTFILE.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

Name "comloop ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\comloop"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\comloop"

Section
    SetOutPath "$INSTDIR"
    File "${STAGE}/comloop.exe"
    File "${STAGE}/comloop-check.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    SetShellVarContext all
    CreateShortcut "$SMPROGRAMS\comloop.lnk" "$INSTDIR\comloop.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "comloop"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\comloop.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "$SMPROGRAMS\comloop.lnk"
    Delete "$INSTDIR\comloop.exe"
    Delete "$INSTDIR\comloop-check.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
