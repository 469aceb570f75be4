#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (tests/fuzz/corpus/<target>/) and dictionaries
(tests/fuzz/dict/<target>.dict). The inputs follow each target's own input layout (see the
target's source); run this after changing a layout."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def example(name):
    with open(os.path.join(ROOT, "examples", name), "rb") as f:
        return f.read()


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def text(s):
    return s.encode("utf-8") + b"\0"


def raw16(units):
    return b"\xff" + b"".join(struct.pack("<H", u) for u in units) + b"\0\0"


# Host value records (fuzz_host_calls): tag, payload, then the cbElements byte.
def rec_text(s):
    return bytes([22]) + (raw16(s) if isinstance(s, list) else text(s)) + b"\0"


def rec_raw(tag, payload):
    return bytes([tag]) + payload.ljust(16, b"\0")[:16] + b"\0"


def rec_i4(v):
    return rec_raw(3, struct.pack("<i", v))


def rec_i8(v):
    return rec_raw(17, struct.pack("<q", v))


def rec_r8(v):
    return rec_raw(5, struct.pack("<d", v))


def rec_bool(v):
    return rec_raw(11, bytes([v]))


def rec_tm(year, mon, mday, hour=0, minute=0, sec=0):
    return bytes([7]) + struct.pack("<9i", sec, minute, hour, mday, mon, year, 0, 0, 0) + b"\0"


def rec_blob(b):
    return bytes([23]) + b + b"\0" + b"\0"


def rec_narrow(b):
    return bytes([8]) + b + b"\0" + b"\0"


def by_name(name):
    return b"\xef" + text(name)


def call(name, *args, func=True):
    return b"\0" + by_name(name) + bytes([len(args)]) + b"".join(args) + bytes([1 if func else 0])


def call_number(number, *args, func=True):
    return b"\0" + b"\xf0" + struct.pack("<i", number) + bytes([len(args)]) + b"".join(args) + \
        bytes([1 if func else 0])


GOODS = ('<?xml version="1.0" encoding="UTF-8"?><Table><Record PLU="12" Code="1012" '
         'EANData="2010012" Name="Сыр||Российский" GroupCode="2" Price="455.50" SellByDate="5" '
         'SellByTime="0" PLUTare="0" IsWeightGoods="true" Description="молоко||соль" '
         'SpecMessage="Хранить при t от +2 до +6 °C" F1="6" F2="2"/></Table>')
GROUPS = '<Table><Record Code="2" Name="Сыры"/><Record Code="3" Name="Колбасы"/></Table>'
SHOPS = '<Table><Record Code="1" Name="Гастроном||ул. Ленина, 12"/></Table>'


def open_calls():
    return (call("SetParameter", rec_text("IPAddress"), rec_text("127.0.0.1")) +
            call("SetParameter", rec_text("IPPort"), rec_i4(4001)) +
            call("Open", rec_text("")))


def host_calls():
    t = "fuzz_host_calls"
    write(t, "session", b"\0" + open_calls() +
          call("SetParameter", rec_text("ExtLogEnabled"), rec_text("true")) +
          call("UploadGoods", rec_text(""), rec_text(GOODS), rec_text("")) +
          call("UploadGroups", rec_text(GROUPS)) + call("UploadShops", rec_text(SHOPS)) +
          call("DeleteGood", rec_i4(12)) + call("DeleteGroup", rec_text("3")) +
          call("ClearGoods", rec_text("")) + call("ClearGroups") +
          call("UploadData", rec_text("F37"), rec_text("00000007001900" + "A" * 36)) +
          call("GetLastError", rec_text("")) + call("Close", rec_text("")))
    write(t, "framework", b"\0" + call("GetInterfaceRevision") +
          call("GetDescription", rec_text("")) + call("GetParameters", rec_text("")) +
          call("GetAdditionalActions", rec_text("")) +
          call("DoAdditionalAction", rec_text("ViewLog")) +
          call("DoAdditionalAction", rec_text("ShowHelp")) +
          call("DeviceTest", rec_text(""), rec_text("")) +
          call("SetParameter", rec_text("LogEnabled"), rec_bool(1)) +
          call("Open", rec_text("")) + call("Close", rec_text(""), func=False))
    write(t, "values", b"\0" +
          call("SetParameter", rec_text("LabelFormatNumber"), rec_r8(17.5)) +
          call("SetParameter", rec_text("CommodityFont"), rec_i8(1 << 40)) +
          call("SetParameter", rec_text("IngredientFont"), rec_tm(126, 11, 31, 23, 59, 59)) +
          call("SetParameter", rec_text("CompanyFont"), rec_blob(b"\x01\x02")) +
          call("SetParameter", rec_text("SpecMessageFont"), rec_narrow(b"3")) +
          call("SetParameter", rec_text("Extra"), rec_text([0xD800, 0x41])) +
          call("SetParameter", rec_text("IPPort"), rec_bool(2)) +
          call("Open", rec_text("")) +
          b"\x03\x05\x01" + b"\x04\x05\x00\x00" + b"\x05" + text("LogEnabled") +
          b"\x06\x03\x01\x01" + b"\x06\x02\x00\x00" + b"\x07\x0b" + b"\x08" + text("ru_RU"))
    write(t, "numbers", b"\0" + call_number(30000) + call_number(-1, rec_i4(1)) +
          call_number(2147483647, func=False) + call_number(30001, rec_text(""), func=False) +
          call("GetLastError", rec_text("")))
    write(t, "refusals", b"\x15\x06\xe2\0" + open_calls() +
          call("UploadGroups", rec_text(GROUPS)) + call("DeleteGood", rec_i4(1)) +
          call("GetLastError", rec_text("")))


def upload_data():
    t = "fuzz_upload_data"
    rec25 = "00000007001900" + "A" * 36
    write(t, "one_record", b"\0" + text("F37") + text(rec25))
    write(t, "two_records", b"\0" + text("f37xyz") + text(rec25 + "00000008001900" + "b" * 36))
    write(t, "empty_clear", b"\0" + text("D41") + text(""))
    write(t, "test_table", b"\0" + text("T25") + text("00000001"))
    write(t, "presets", b"\0" + text("F41") + text(example("preset_keys.hex").decode().strip()))
    write(t, "refused", b"\x15\0" + text("F37") + text(rec25))
    write(t, "out_of_step", b"\x01\0" + text("F37") + text(rec25 + rec25))
    write(t, "short", b"\0" + text("F37") + text(rec25 + rec25[:30]))


def documents():
    lines = example("goods.xml").split(b"\n")
    records = [l for l in lines if b"<Record" in l][:4]
    write("fuzz_goods_document", "example", b"\n".join(lines[:2] + records + [b"</Table>"]))
    write("fuzz_goods_document", "one_record", text(GOODS))
    write("fuzz_goods_document", "refused", text(GOODS) + b"\x15")
    write("fuzz_goods_document", "out_of_step", text(GOODS) + b"\x06\x01")
    write("fuzz_group_shop_document", "groups", b"\0" + example("groups.xml"))
    write("fuzz_group_shop_document", "shops", b"\1" + example("shop.xml"))
    write("fuzz_group_shop_document", "groups_refused", b"\0" + text(GROUPS) + b"\x06\x15")
    write("fuzz_group_shop_document", "shops_small", b"\1" + text(SHOPS))


def setting_conversion():
    t = "fuzz_setting_conversion"
    kinds = {"empty": 0, "null": 1, "bool": 2, "int32": 5, "int64": 6, "uint64": 10,
             "double": 12, "currency": 13, "date": 14, "string": 15, "bytes": 16, "array": 17}
    tail = struct.pack("<iq", 42, 12345)
    write(t, "strings", b"".join(bytes([kinds["string"]]) + text(s) + tail for s in
                                 ["true", " FALSE ", "12", "+7", "-2147483649", "12.34565",
                                  "1e308", "abc", "", "\u0434\u0430"]))
    write(t, "numbers",
          bytes([kinds["int64"]]) + struct.pack("<q", 1 << 62) + tail +
          bytes([kinds["uint64"]]) + struct.pack("<Q", 1 << 63) + tail +
          bytes([kinds["double"]]) + struct.pack("<d", 2147483647.5) + tail +
          bytes([kinds["currency"]]) + struct.pack("<q", -12345) + tail +
          bytes([kinds["date"]]) + struct.pack("<d", 45000.25) + tail +
          bytes([kinds["bool"], 1]) + tail + bytes([kinds["null"]]) + tail)
    write(t, "containers", bytes([kinds["bytes"]]) + b"\x01\x02\x03\0" + tail +
          bytes([kinds["array"], 2, kinds["string"]]) + text("a") + bytes([kinds["int32"]]) +
          struct.pack("<q", 5) + tail)


def emulator_frames():
    t = "fuzz_emulator_frames"
    group = bytes.fromhex("F123") + bytes.fromhex("00000002") + struct.pack(">H", 14) + \
        "Сыры".encode("cp866").ljust(10, b" ")
    write(t, "group_then_clear", group + bytes.fromhex("F223"))
    write(t, "delete_and_test", bytes.fromhex("F32500000012F72500000012"))
    write(t, "system_settings", bytes.fromhex("F14E") + bytes(12))
    write(t, "raw_records", bytes.fromhex("F137") + bytes.fromhex(
        "00000007001900" + "AA" * 18))
    write(t, "unknown_command", bytes.fromhex("F223AB00"))
    write("fuzz_scale_record", "group", bytes([0x23]) + group[2:])
    write("fuzz_scale_record", "raw", bytes([0x37]) + bytes.fromhex("00000007001900" + "AA" * 18))


def log_viewer():
    t = "fuzz_log_viewer_model"
    line = "2026-12-10 10:00:00.000 [INFO] Подключить: ok\r\n".encode()
    write(t, "two_files", b"\x02" + text("w_velquora.log") + line + b"\0\x05" +
          text("127_0_0_1.LOG") + line * 2 + b"\0\x07" +
          b"\x00" + b"\x01\x00" + b"\x04" + text("127_0_0_1.LOG") + line + b"\0\x03" + b"\x02" +
          b"\x05" + text("127_0_0_1.LOG") + b"\x02\x03\x01\x01")
    write(t, "names", b"\x04" + text("b.log") + b"x\0\x01" + text("A.Log") + b"\xd0\0\x01" +
          text("\u042f.log") + b"\r\r\n\0\x01" + text(".log") + b"\0\x01" + b"\x00\x01\xff")


def dictionaries():
    def esc(word):
        b = word.encode("utf-8") if isinstance(word, str) else word
        return "".join(chr(c) if 32 <= c < 127 and c not in (34, 92) else "\\x%02X" % c for c in b)

    def dictionary(target, words):
        os.makedirs(os.path.join(HERE, "dict"), exist_ok=True)
        with open(os.path.join(HERE, "dict", target + ".dict"), "w") as f:
            f.write("# libFuzzer dictionary for %s (written by make_seeds.py)\n" % target)
            for i, w in enumerate(words):
                f.write('w%d="%s"\n' % (i, esc(w)))

    methods = ["GetInterfaceRevision", "GetDescription", "GetLastError", "Open", "Close",
               "GetParameters", "SetParameter", "DeviceTest", "GetAdditionalActions",
               "DoAdditionalAction", "UploadGoods", "UploadGroups", "UploadShops", "ClearGoods",
               "ClearGroups", "DeleteGood", "DeleteGroup", "UploadData", "Подключить",
               "ВыгрузитьТовары", "УстановитьПараметр"]
    settings = ["IPAddress", "IPPort", "CommodityFont", "IngredientFont", "SpecMessageFont",
                "CompanyFont", "LabelFormatNumber", "ExtLogEnabled", "LogEnabled", "ЛогВключен",
                "LastErrorDescription", "ViewLog", "ShowHelp", "127.0.0.1", "true", "false"]
    xml = ['<?xml version="1.0" encoding="UTF-8"?>', "<Table>", "</Table>", "<Record ", "/>",
           'Code="', 'Name="', 'PLU="', 'EANData="', 'GroupCode="', 'Price="', 'SellByDate="',
           'SellByTime="', 'PLUTare="', 'IsWeightGoods="', 'Description="', 'SpecMessage="',
           'F1="', 'F2="', 'ImageNumber="', "||", "&quot;", "&amp;", "&#1;", "<!--", "-->",
           "<![CDATA[", "]]>", '<!DOCTYPE Table [<!ENTITY x "a">]>', "&x;"]
    dictionary("fuzz_host_calls", [by_name(m) for m in methods] + [text(s) for s in settings] + xml)
    dictionary("fuzz_goods_document", xml)
    dictionary("fuzz_group_shop_document", xml)
    dictionary("fuzz_upload_data", ["F37", "D41", "T25", "f25", "0000", "0019", "00000007001900"])
    dictionary("fuzz_setting_conversion", ["true", "false", "TRUE", "+", "-", ".", "e", "1e308",
                                           "2147483648", "-2147483649", "9223372036854775807",
                                           "0.00005", "inf", "nan"])
    dictionary("fuzz_emulator_frames", [b"\xf1\x25", b"\xf1\x23", b"\xf1\x3d", b"\xf1\x37",
                                        b"\xf1\x41", b"\xf1\xa3", b"\xf1\x4e", b"\xf2\x25",
                                        b"\xf3\x25", b"\xf7\x25", b"\x00\x00\x00\x01"])
    dictionary("fuzz_log_viewer_model", [".log", ".LOG", ".Log", "\r\n", "w_velquora.log", b"\xd0",
                                         b"\xff"])


host_calls()
upload_data()
documents()
setting_conversion()
emulator_frames()
log_viewer()
dictionaries()
