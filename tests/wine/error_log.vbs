' Failures inside the plug-in never reach the host: each becomes one line in
' c:\fen.log with the application name, the local date and time, and the
' failure text (description followed by the procedure's label).
Option Explicit
On Error Resume Next

Const LogPath = "c:\fen.log"
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
If fso.FileExists(LogPath) Then fso.DeleteFile LogPath

Dim failures : failures = 0
Sub Fail(msg)
  WScript.Echo "FAIL " & msg
  failures = failures + 1
End Sub

Function Stamp()
  Stamp = CStr(Date) & " " & CStr(Time)
End Function

Dim s, before, after, r, lines, i, tail, stampPart
Set s = CreateObject("plgLedraII.Session")
If Err.Number <> 0 Then WScript.Echo "FAIL CreateObject: " & Err.Description : WScript.Quit 1

' Two settings that are neither numbers nor True/False: two failures in one
' procedure, logged in order, and the call still answers normally.
before = Stamp()
r = s.Initialize("{UseSuppliers(S5)=maybe}{UseCustomers(S7)=perhaps}", "", Nothing)
after = Stamp()
If Err.Number <> 0 Then Fail "Initialize raised " & Err.Description : Err.Clear
If r <> "" Then Fail "Initialize answered [" & r & "]"

If Not fso.FileExists(LogPath) Then
  Fail "no log file"
Else
  lines = Split(fso.OpenTextFile(LogPath).ReadAll(), vbCrLf)
  ' The file ends with CR LF, so the last piece is empty.
  If UBound(lines) <> 2 Or lines(UBound(lines)) <> "" Then Fail "expected two CR LF lines, got " & UBound(lines)
  tail = "    @ Type mismatch @ plugin.Session.InitializeReal"
  For i = 0 To 1
    If Left(lines(i), 10) <> "LedraII - " Then Fail "line " & i & " starts [" & Left(lines(i), 10) & "]"
    If Right(lines(i), Len(tail)) <> tail Then Fail "line " & i & " ends [" & lines(i) & "]"
    stampPart = Mid(lines(i), 11, Len(lines(i)) - 10 - Len(tail))
    If stampPart <> before And stampPart <> after Then Fail "line " & i & " time [" & stampPart & "] not [" & before & "]"
    WScript.Echo "line " & i & ": " & lines(i)
  Next
End If

If failures > 0 Then WScript.Quit 1
WScript.Echo "all passed"
WScript.Quit 0
