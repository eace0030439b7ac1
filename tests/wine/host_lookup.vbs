' The host's session over a sample company, answers checked exactly (the
' elapsed time aside): a caller identified by number, a direct lookup, a
' number that matches nobody, and the whole cache walk.
' Usage: cscript //nologo host_lookup.vbs SAMPLE-FOLDER (joined after check.vbs)
Dim Acme : Acme = "{Id(S8)=pnACME01}{Name(S7)=J Smith}{Company(S8)=Acme Ltd}{Maintel(S12)=01234 567890}{Fax(S0)=}" & _
  "{Address1(S22)=Unit 4, Riverside Park}{Address2(S9)=Mill Lane}{Town(S7)=Bedford}{PostCode(S8)=MK40 1AA}"

Dim s : Set s = NewSession()
s.Initialize "{DBFile=" & WScript.Arguments(0) & "\a_sname.dbf}", "", Nothing
Check "Load", s.Load(""), "{Result=Success}"
Check "the phone rings", NoSpeed(s.FindContact("{Tel=01234 567890}{NiceTel=01234 567890}")), _
  Acme & "{Tel(S11)=01234567890}{NiceTel(S12)=01234 567890}{Matches(N1)=1}{Result(S7)=Success}"
Check "the contact's Id", s.FindContact("{Id=pnACME01}"), Acme & "{Result(S7)=Success}"
Check "a number nobody has", NoSpeed(s.FindContact("{Tel=09876 543210}")), _
  "{Tel(S11)=09876543210}{Result(S4)=Fail}{Reason(S6)=NoFind}"
Check "an account that does not exist", s.FindContact("{Id=snNOSUCH}"), "{Result(S4)=Fail}"

Check "CacheStart", s.CacheStart(), "{Records(N2)=-1}"
Check "first supplier", s.CacheRecord(), "{Result(S7)=Success}{Fields(S" & Len(Acme) & ")=" & Acme & "}"
Dim r, suppliers, customers, switched
suppliers = 1 : customers = 0 : switched = 0
Do
  r = s.CacheRecord()
  If r = "{Result=Ignore}" Then
    switched = switched + 1
  ElseIf Left(r, 20) = "{Result(S7)=Success}" Then
    If switched = 0 Then suppliers = suppliers + 1 Else customers = customers + 1
  Else
    Exit Do
  End If
Loop While suppliers + customers < 100000
Check "the walk ends", r, "{Result(S3)=Eof}"
Check "one switch between the tables", switched, 1
Check "and stays at its end", s.CacheRecord(), "{Result(S3)=Eof}"
Check "CacheEnd", s.CacheEnd(), ""
Check "after CacheEnd", s.CacheRecord(), ""
WScript.Echo "walked " & suppliers & " suppliers and " & customers & " customers"
Check "Unload", s.Unload(), ""
Check "Uninitialize", s.Uninitialize(), ""
Finish
