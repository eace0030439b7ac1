' A host session as the telephony application runs it: create the Session by
' its ProgID, call the host contract in the host's order, check every answer.
' cscript hides run-time errors, so each call is checked explicitly and any
' failure ends the script with exit code 1.
Option Explicit
On Error Resume Next

Dim failures : failures = 0

Sub Check(name, got, expected)
  If Err.Number <> 0 Then
    WScript.Echo "FAIL " & name & ": error " & Err.Number & " " & Err.Description
    Err.Clear
    failures = failures + 1
  ElseIf got <> expected Then
    WScript.Echo "FAIL " & name & ": got [" & got & "] expected [" & expected & "]"
    failures = failures + 1
  Else
    WScript.Echo "ok   " & name
  End If
End Sub

Dim s, t, dataRd, userRd, cb, page, rd, r
Set s = CreateObject("plgLedraII.Session")
If Err.Number <> 0 Then
  WScript.Echo "FAIL CreateObject: " & Err.Description
  WScript.Quit 1
End If

Check "Install", s.Install(), ""
dataRd = "{DBFile(S25)=C:\nowhere\data\a_sname.dbf}"
userRd = "{User(S4)=anna}"
Set cb = Nothing
Check "Initialize", s.Initialize(dataRd, userRd, cb), ""
Check "Capabilities", s.Capabilities(), "{Version=2.0}{Name=LedraII}{Description=Kestrin Ledra II}{Comments=}" & _
  "{Client=1}{Server=1}{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}"
Check "CapabilitiesReal", s.CapabilitiesReal(), _
  "{Client=1}{Server=1}{NeedContact=Show Contact,Sales processing,Order processing,Purchase orders}"
Check "Blocked", s.Blocked(), False
t = "Prop"
Check "SetProperty", s.SetProperty(t, 5), ""
Check "GetProperty", s.GetProperty(t), ""
Check "InstallReal", s.InstallReal(), ""
Check "UninitializeReal", s.UninitializeReal(), ""
Check "CheckRunning", s.CheckRunning(False), False
' Literals as well as variables reach by-reference parameters.
Check "Initialize literals", s.Initialize("{UseSuppliers=0}", "", Nothing), ""
Check "Uninitialize", s.Uninitialize(), ""
Check "Uninstall", s.Uninstall(), ""
Set s = Nothing

If failures > 0 Then
  WScript.Echo failures & " failed"
  WScript.Quit 1
End If
WScript.Echo "all passed"
WScript.Quit 0
