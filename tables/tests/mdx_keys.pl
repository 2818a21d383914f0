#!/usr/bin/perl
# Prints the entries of one tag of an .mdx as "hex-of-key<TAB>record" lines, in key order, or
# starting at the first key >= the third argument. Used by the index tests as an independent
# reader.
use strict;
use warnings;
use XBase::Index;

my ($file, $tag, $start) = @ARGV;
die "usage: mdx_keys.pl file.mdx TAG [start]\n" unless defined $tag;
my $index = XBase::Index->new($file, 'tag' => $tag) or die XBase::Index->errstr;
if (defined $start) {
  $index->prepare_select_eq($start) or die $index->errstr;
} else {
  $index->prepare_select or die $index->errstr;
}
while (my @d = $index->fetch) {
  print unpack("H*", $d[0]), "\t$d[1]\n";
}
die $index->errstr if $index->errstr;
