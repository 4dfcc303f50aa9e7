{ Prints, as C++ table rows, the 10 bytes that Free Pascal's form text
  converter writes for each extended value below. The extended-value tests
  compare the framework's converters with these rows.

  Regenerate (x86 only: there Extended is the 80-bit type):
    fpc -O1 ExtendedForm.pas && ./ExtendedForm
  and paste the rows into the table in ExtendedTest.cpp. }
program ExtendedForm;
{$mode objfpc}{$H+}
uses Classes, SysUtils;

const
  Values: array[0..21] of string = (
    '0.1', '-0.1', '3.14159265358979323846', '-0.0', '1.0', '1.5', '2.5E-1', '1E20',
    '123456789012345678.0', '2.718281828459045235360287',
    '1.18973149535723E4932', '1.18973149535723176502E4932', '1.18973149535723176505E4932',
    '3.3621031431120935063E-4932', '3.3621031431120935062E-4932',
    '3.6451995318824746025E-4951', '1E-4940', '-4.2E-4945', '2E-4951', '1E-4951',
    '1.7976931348623157E308', '4.9406564584124654E-324');

function Hex(const S: string; At, Count: Integer): string;
var
  I: Integer;
begin
  Result := '';
  for I := At to At + Count - 1 do
  begin
    if Result <> '' then Result := Result + ' ';
    Result := Result + IntToHex(Ord(S[I]), 2);
  end;
end;

var
  Text: string;
  Src, Bin: TStringStream;
  Data, Name: string;
  I, P: Integer;
begin
  Text := 'object F: TForm' + LineEnding;
  for I := Low(Values) to High(Values) do
    Text := Text + '  V' + IntToStr(I) + ' = ' + Values[I] + LineEnding;
  Text := Text + 'end' + LineEnding;
  Src := TStringStream.Create(Text);
  Bin := TStringStream.Create('');
  ObjectTextToBinary(Src, Bin);
  Data := Bin.DataString;
  { "TPF0", class and object names as short strings, then name + value per property }
  P := 5;
  P := P + 1 + Ord(Data[P]);
  P := P + 1 + Ord(Data[P]);
  for I := Low(Values) to High(Values) do
  begin
    Name := Copy(Data, P + 1, Ord(Data[P]));
    P := P + 1 + Ord(Data[P]);
    if (Name <> 'V' + IntToStr(I)) or (Data[P] <> #5) then
    begin
      WriteLn(StdErr, 'unexpected value for ', Values[I]);
      Halt(1);
    end;
    WriteLn('      {"', Values[I], '", "', Hex(Data, P + 1, 10), '"},');
    P := P + 11;
  end;
  Src.Free;
  Bin.Free;
end.
