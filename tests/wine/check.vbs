' What the VBScript hosts share. Wine's script host runs no .wsf job files,
' so the build joins this file and a host into one script (cmake/wine-tests.cmake,
' build/<arch>/vbs/<host>.vbs). cscript hides run-time errors: every call is
' checked with Check, and a host ends with Finish, which says "all passed"
' only when nothing failed and exits 1 otherwise.
Option Explicit
On Error Resume Next
Dim failures : failures = 0

' "ok" or "FAIL" with what was got; an error raised by the call fails too.
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

' The answer without its Speed entry, whose value is the elapsed time.
Function NoSpeed(answer)
  Dim re : Set re = New RegExp
  re.Pattern = "\{Speed\(N\d+\)=[^}]*\}"
  NoSpeed = re.Replace(answer, "")
End Function

' A Session made by its ProgID, as the host makes it; without one the host
' cannot go on.
Function NewSession()
  Set NewSession = CreateObject("plgLedraII.Session")
  If Err.Number <> 0 Then WScript.Echo "FAIL CreateObject: " & Err.Description : WScript.Quit 1
End Function

Sub Finish()
  If failures > 0 Then WScript.Echo failures & " failed" : WScript.Quit 1
  WScript.Echo "all passed"
  WScript.Quit 0
End Sub

