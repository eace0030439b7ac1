' Whether plgLedraII.Session can be created: prints "created" or "not created".
Option Explicit
On Error Resume Next
Dim s : Set s = CreateObject("plgLedraII.Session")
If Err.Number = 0 Then
  WScript.Echo "created"
Else
  WScript.Echo "not created: error " & Err.Number
End If
WScript.Quit 0
