#!/usr/bin/perl
# Prints the entries of one tag of an index file, one per line:
# the key bytes in hexadecimal, a tab, the record number.
use strict;
use warnings;
use XBase::Index;

my ($file, $tag) = @ARGV;
die "usage: $0 FILE TAG\n" unless defined $tag;
my $index = XBase::Index->new($file, 'tag' => $tag)
    or die "cannot open $file: " . (XBase::Index->errstr // '') . "\n";
$index->prepare_select;
binmode STDOUT;
while (my ($key, $recno) = $index->fetch) {
    print unpack('H*', $key), "\t", $recno, "\n";
}
