#!/usr/bin/perl
# Writes a zip archive whose bytes depend only on the names and contents it is given: one fixed
# time stamp, fixed file attributes, no extra fields, the entries in the order given. (`cmake -E
# tar --format=zip` stores each file's access and change times and its owner's ids, which differ
# from one checkout or build folder to the next, whatever --mtime says.)
#   perl write_zip.pl OUT.zip NAME=FILE...
# Needs only perl-base and gzip, which every Debian system has: `gzip -n` (no name, no time)
# deflates, and its stream ends with the CRC-32 a zip entry needs.
use strict;
use warnings;

@ARGV >= 2 or die "usage: write_zip.pl OUT.zip NAME=FILE...\n";
my $out = shift @ARGV;

# 1 January 2000, 00:00:00, in the MS-DOS form zip uses.
my $dos_time = 0;
my $dos_date = ((2000 - 1980) << 9) | (1 << 5) | 1;
my $made_by = (3 << 8) | 20;         # Unix (the attributes below are a mode), zip 2.0
my $attributes = 0100644 << 16;      # a regular file, rw-r--r--

my ($body, $central, $count) = ('', '', 0);
for my $item (@ARGV) {
  my ($name, $path) = $item =~ /^([^=]+)=(.+)$/ or die "write_zip: \"$item\" is not NAME=FILE\n";
  open(my $in, '<:raw', $path) or die "write_zip: cannot read $path: $!\n";
  my $data = do { local $/; <$in> } // '';
  close $in;
  open(my $gzip, '-|:raw', 'gzip', '-9', '-n', '-c', '--', $path)
    or die "write_zip: cannot run gzip: $!\n";
  my $stream = do { local $/; <$gzip> } // '';
  close $gzip or die "write_zip: gzip failed on $path\n";
  # A 10-byte header (no name or time with -n), the raw deflate stream, CRC-32 and size.
  length($stream) >= 18 or die "write_zip: gzip gave no stream for $path\n";
  my ($crc, $size) = unpack('VV', substr($stream, -8));
  $size == length($data) or die "write_zip: $path changed while it was packed\n";
  my $deflated = substr($stream, 10, length($stream) - 18);
  my ($method, $stored) = length($deflated) < length($data) ? (8, $deflated) : (0, $data);
  my $offset = length $body;
  $body .= pack('VvvvvvVVVvv', 0x04034b50, 20, 0, $method, $dos_time, $dos_date, $crc,
                length $stored, length $data, length $name, 0) . $name . $stored;
  $central .= pack('VvvvvvvVVVvvvvvVV', 0x02014b50, $made_by, 20, 0, $method, $dos_time,
                   $dos_date, $crc, length $stored, length $data, length $name, 0, 0, 0, 0,
                   $attributes, $offset) . $name;
  ++$count;
}
my $end = pack('VvvvvVVv', 0x06054b50, 0, 0, $count, $count, length $central, length $body, 0);

# Written aside and renamed, so a failed run never leaves half an archive under the name.
open(my $zip, '>:raw', "$out.part") or die "write_zip: cannot write $out.part: $!\n";
print $zip $body, $central, $end or die "write_zip: cannot write $out.part: $!\n";
close $zip or die "write_zip: cannot write $out.part: $!\n";
rename("$out.part", $out) or die "write_zip: cannot rename $out.part to $out: $!\n";
