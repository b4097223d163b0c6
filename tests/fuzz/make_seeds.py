#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into corpus/<target>/.

The layouts are those described at the top of each fuzz_<target>.cpp."""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent
DLE, STX, ETX = 0x10, 0x02, 0x03


def wire_frame(record: bytes) -> bytes:
    """DLE STX, the record with every DLE doubled, DLE ETX."""
    return bytes([DLE, STX]) + record.replace(b"\x10", b"\x10\x10") + bytes([DLE, ETX])


def deliver(data: bytes) -> bytes:
    """Pump passes that hand `data` to the receiver, at most 224 bytes a pass."""
    out = b""
    for i in range(0, len(data), 224):
        chunk = data[i:i + 224]
        out += bytes([len(chunk) - 1]) + chunk
    return out


SILENCE = b"\xff"  # a pump pass in which the rest of the wait passes


def receiver_seeds():
    head = b"\x00\x00\x00\x00"
    status_reply = wire_frame(head + b"A\x00\x00")
    ident = head + b"T" + bytes(range(0x20, 0x42)) + b"\x05\x07"
    return {
        "query_doubled_dle": b"\x01S" + deliver(wire_frame(head + b"S\x10\x07\x00\x01")),
        "query_identification": b"\x01T" + deliver(wire_frame(ident)),
        "keys_ok": b"\x02\x00\x02\x45\x10" + deliver(status_reply),
        "keys_error_status": b"\x02\x00\x01\x2a" + deliver(wire_frame(head + b"A\x0c\x01")),
        "keys_long_silent": b"\x03\x02\x03\x11\x45\x31" + SILENCE,
        "noise_then_frame": b"\x00\x0d" + bytes.fromhex("06 15 10 41 02 00 00 00 00 41 0c 10 03"),
        "well_formed_query": b"\x04\x00\x08" + head + b"S\x10\x03\x10",
        "overlong_then_frame": b"\x01T" + deliver(b"\x10\x02" + b"x" * 1100) + deliver(status_reply),
        "cut_off_then_command": b"\x01S" + deliver(b"\x10\x02\x00\x00\x00\x00S\x10") + SILENCE
        + b"\x05\x01\x45\x00\x07" + head + b"A\x00\x00",
    }


DEFAULT_CONTROLS = b"+<@?[*]%!#$="
NEVER_FAILS = 63 << 2
NEW_FIRMWARE = 1
RAW_WIDTHS = 2


def settings(flags: int, controls=DEFAULT_CONTROLS, description=b"20", price=b"8",
             print_program=b"1") -> bytes:
    return bytes([flags]) + b"\n".join([controls, description, price, print_program]) + b"\n"


RECEIPT_SIMPLE = (b"PAINE ALBA           0002.500 00000450 01\r\n"
                  b"LAPTE 1.5L           0001.000 00000699 02\r\n"
                  b"RETUR STICLA         -001.000 00000050 02\r\n"
                  b"%010\r\n=Va multumim!\r\n+\r\n<5000\r\n")
RECEIPT_CARD = b"CAFEA BOABE 500G     0001.000 00003450 01\r\n$0200\r\n@\r\n"
EVERY_KIND = (b"+\n<5000\n@1234\n?\n[500\n*5\n]3\n%010\n!010\n#1250\n$100\n=Va multumim!\n"
              b"PAINE\n")
CURRENCIES = b"-\r\n1 0004350 EUR\r\n2 0004010 USD\r\n9\r\n"


def translation_seeds():
    return {
        "receipt_old_firmware": settings(NEVER_FAILS) + RECEIPT_SIMPLE,
        "receipt_new_firmware": settings(NEVER_FAILS | NEW_FIRMWARE) + RECEIPT_SIMPLE,
        "card_failing_description": settings((1 << 2) | NEW_FIRMWARE) + RECEIPT_CARD,
        "every_line_kind": settings(NEVER_FAILS | NEW_FIRMWARE) + EVERY_KIND,
        "currencies": settings(NEVER_FAILS, print_program=b"0") + CURRENCIES,
        "custom_columns": settings(NEVER_FAILS | RAW_WIDTHS, description=b"16", price=b"4.5")
        + b"SIXTEEN CHARS... 0003.000 0125 05\n",
        "odd_controls": settings(NEVER_FAILS, controls=b"+<<?[*]%!\x7f$=") + b"<1\n#100\n$\n",
    }


INI_FULL = (b"[DEFAULT]\r\nOKDIR=C:\\OVIX\\BONOK\\\r\nERRDIR=C:\\OVIX\\BONERR\\\r\n"
            b"BONDIR=C:\\OVIX\\\r\nCHREDA=#\r\nCHREDAS=$\r\nCHREDP=%\r\nCHREDPS=!\r\nCHTOT=<\r\n"
            b"CHCARD=@\r\nCHCREDIT=?\r\nCHBONVAL=[\r\nCHCEC=*\r\nCHLINE==\r\nCHVALUTA=]\r\n"
            b"CHPROGVAL=-\r\nCHSUBTOTAL=+\r\nCHPRINTPROG=1\r\nDESCRIERE=20\r\nPRET=8\r\n"
            b"EXTENSIE=*.TXT\r\nCOM=1\r\n")
INI_ODD = (b"\xef\xbb\xbf; settings\n[Other]\nCOM=9\n[ default ]\n  descriere = \" 16 \"\n"
           b"PRET='4.5'\nCOM = 2\ncom=3\nnot a key line\n[DEFAULT]\nCOM=4\n")
INI_OUT_OF_RANGE = b"[DEFAULT]\rDESCRIERE=40\rPRET=0\rCOM=/dev/ttyUSB0\rBONDIR=/var/spool/ovix/\r"


def ini_seeds():
    return {"full": INI_FULL, "odd_syntax": INI_ODD, "out_of_range": INI_OUT_OF_RANGE}


def lines_seeds():
    return {
        "receipt_file": b"BON1.TXT\n*.TXT\n" + RECEIPT_SIMPLE,
        "mixed_line_ends": b"bon2.txt\n*.TXT\nline1\rline2\n\r\nlast",
        "question_marks": b"ABC.TXT\nA?C.*\n",
    }


def main():
    targets = {
        "fuzz_receiver": receiver_seeds(),
        "fuzz_translation": translation_seeds(),
        "fuzz_ini": ini_seeds(),
        "fuzz_lines": lines_seeds(),
    }
    for target, seeds in targets.items():
        directory = HERE / "corpus" / target
        directory.mkdir(parents=True, exist_ok=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)


if __name__ == "__main__":
    main()
