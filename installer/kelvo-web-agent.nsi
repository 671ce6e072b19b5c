; The Windows installer: one user's installation, made without administrator rights.
;
;   makensis -DVERSION=1.0.0 -DAGENT_EXE=kelvo_web_agent.exe -DENGINE_DLL=rizudada.dll
;            -DICON=agent.ico -DOUTFILE=kelvo-web-agent-setup-1.0.0.exe kelvo-web-agent.nsi
;
; Setup copies the agent and the engine library into the user's programs folder, has the agent
; make this computer's certificate and trust it for this user, starts the agent at login (the
; user's Run key) and now, and lists it among the installed programs. Run over an installation
; whose agent is running, it stops that agent, replaces the files and starts the new one; the
; user's site decisions (%APPDATA%\Kelvo Web Agent) are never touched.
;
; Setup: /S installs silently. Uninstaller: /S uninstalls silently and keeps the site decisions;
; /REMOVESITES removes them too (the uninstaller's "Your site decisions", unchecked otherwise).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Kelvo Web Agent"
!define PROGRAM "kelvo_web_agent.exe"
!define ENGINE "rizudada.dll"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoWebAgent"
; The entry that the tray menu's "Start at login" turns on and off (src/app/login_start_win.h).
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where the agent notes the certificate it trusted (src/app/certificate_trust_win.h).
!define AGENT_KEY "Software\Kelvo Web Agent"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "LegalCopyright" "Kelvo"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEPAGE_TEXT "${PRODUCT} lets web pages that you allow use this computer's camera, microphone and screen for calls.$\r$\n$\r$\nSetup installs it for you alone, without administrator rights. It starts the agent now and each time you log in, and makes a certificate for this computer that your browsers trust for the agent's secure address. Windows asks you to confirm that certificate: choose Yes.$\r$\n$\r$\nClick Next to install."
!define MUI_FINISHPAGE_TITLE "${PRODUCT} is running"
!define MUI_FINISHPAGE_TEXT "Its icon is in the notification area: right-click it to stop the agent or to change whether it starts when you log in.$\r$\n$\r$\nFirefox uses the certificate once its setting security.enterprise_roots.enabled is true (about:config)."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; -kill returns once the agent's window is gone; the process may take a moment more to end and
; release its program file. Waits up to 5 s for the file to go.
!macro REMOVE_PROGRAM_FILE un
Function ${un}RemoveProgramFile
  StrCpy $R0 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\${PROGRAM}"
    ${IfNot} ${Errors}
    ${OrIfNot} ${FileExists} "$INSTDIR\${PROGRAM}"
      Return
    ${EndIf}
    IntOp $R0 $R0 + 1
    ${If} $R0 >= 50
      DetailPrint "The agent's program file is still in use: $INSTDIR\${PROGRAM}"
      Return
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro REMOVE_PROGRAM_FILE ""
!insertmacro REMOVE_PROGRAM_FILE "un."

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  ; Read before this run writes it: an upgrade keeps the user's choice of starting at login.
  ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
    DetailPrint "Stopping the running agent"
    ; For an upgrade: its pages are told "service restart" and connect again to the new agent.
    ExecWait '"$INSTDIR\${PROGRAM}" -kill-for-upgrade'
    Call RemoveProgramFile
  ${EndIf}
  File "/oname=${PROGRAM}" "${AGENT_EXE}"
  File "/oname=${ENGINE}" "${ENGINE_DLL}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; A good certificate from an earlier installation is kept, so browsers go on trusting it.
  nsExec::ExecToLog '"$INSTDIR\${PROGRAM}" -make-certificate'
  Pop $0
  ${If} $0 != 0
    DetailPrint "No certificate could be made: pages can reach the agent at ws://127.0.0.1:8922 only."
  ${EndIf}
  ; Not hidden: Windows asks the user here.
  ExecWait '"$INSTDIR\${PROGRAM}" -trust-certificate' $0
  ${If} $0 != 0
    DetailPrint "The certificate is not trusted: browsers refuse wss://127.0.0.1:8921 until it is (see the README)."
  ${EndIf}

  ${If} $R1 == ""
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'
  ${Else}
    ReadRegStr $0 HKCU "${RUN_KEY}" "${PRODUCT}"
    ${If} $0 != ""
      WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${PROGRAM}"'
    ${EndIf}
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Kelvo"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  DetailPrint "Starting the agent"
  Exec '"$INSTDIR\${PROGRAM}"'
SectionEnd

Section "un.${PRODUCT}" UN_PROGRAM
  SectionIn RO
  DetailPrint "Stopping the agent"
  ExecWait '"$INSTDIR\${PROGRAM}" -kill'
  ; Not hidden: Windows asks the user here.
  ExecWait '"$INSTDIR\${PROGRAM}" -untrust-certificate' $0
  ${If} $0 != 0
    DetailPrint "The agent's certificate could not be removed from your trusted certificates."
  ${EndIf}
  Call un.RemoveProgramFile
  Delete "$INSTDIR\${ENGINE}"
  Delete "$INSTDIR\kelvo_cert_chain.pem"
  Delete "$INSTDIR\kelvo_key.pem"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKCU "${AGENT_KEY}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Your site decisions" UN_SITES
  RMDir /r "$APPDATA\${PRODUCT}"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UN_PROGRAM} "The agent, its certificate (also from your trusted certificates), its start-menu entry and its start at login."
  !insertmacro MUI_DESCRIPTION_TEXT ${UN_SITES} "Which sites you allowed or blocked. Kept unless you check this, for a later installation."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESITES" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${UN_SITES} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
