' Prints the DLL's raw answers to a list of requests, one per line, for a
' comparison with the ledra tool. Usage: answers.vbs CUSTOMER-TABLE REQUESTS-FILE
' Each line of the requests file is "FindContact <record>" or "FindList <record>".
Option Explicit
On Error Resume Next
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim s : Set s = CreateObject("plgLedraII.Session")
If Err.Number <> 0 Then WScript.Echo "cannot create the Session: " & Err.Description : WScript.Quit 1
s.Initialize "{DBFile=" & WScript.Arguments(0) & "}", "", Nothing
s.Load ""
Dim f : Set f = fso.OpenTextFile(WScript.Arguments(1))
Dim line, verb, rd, answer
Do Until f.AtEndOfStream
  line = f.ReadLine()
  verb = Left(line, InStr(line, " ") - 1)
  rd = Mid(line, InStr(line, " ") + 1)
  If verb = "FindContact" Then answer = s.FindContact(rd) Else answer = s.FindList(rd)
  If Err.Number <> 0 Then WScript.Echo "error " & Err.Description : WScript.Quit 1
  WScript.Echo answer
Loop
WScript.Quit 0
