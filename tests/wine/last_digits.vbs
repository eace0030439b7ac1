' Callers in international format, with MatchLastDigits as the test set it in
' the registry beforehand (9, or none): the answers a host gets.
' Usage: cscript //nologo last_digits.vbs SAMPLE-FOLDER on|off (joined after check.vbs)
Dim s : Set s = NewSession()
Dim found, international
s.Initialize "{DBFile=" & WScript.Arguments(0) & "\a_sname.dbf}", "", Nothing
Check "Load", s.Load(""), "{Result=Success}"
' With the setting on, the international forms find the customer stored as
' "01234 567890"; off, they find nobody, as before.
found = "pnACME01" : If WScript.Arguments(1) = "off" Then found = ""
For Each international In Array("+44 1234 567890", "0044 1234 567890", "441234567890")
  Dim answer : answer = s.FindContact("{Tel=" & international & "}")
  Dim re : Set re = New RegExp
  re.Pattern = "\{Id\(S\d+\)=([^}]*)\}"
  Dim id : id = "" : If re.Test(answer) Then id = re.Execute(answer)(0).SubMatches(0)
  Check international & " is " & found, id, found
Next
' The national form always finds it, and the answer echoes the request's digits.
Check "national form", InStr(s.FindContact("{Tel=01234 567890}"), "{Id(S8)=pnACME01}") = 1, True
Check "the echo keeps every digit", InStr(s.FindContact("{Tel=+44 1234 567890}"), "{Tel(S12)=441234567890}") > 0, True
s.Unload : s.Uninitialize
Finish
