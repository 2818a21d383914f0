#!/usr/bin/perl
# Reads memos from a dBase IV / level-7 .dbt with Perl XBase::Memo (an independent reader).
# Usage: perl xbase_read_memo.pl FILE.dbt BLOCK...   prints each memo as "BLOCK:<hex of data>"
use strict;
use warnings;
use XBase::Memo;
my ($file, @blocks) = @ARGV;
my $memo = XBase::Memo->new($file, 'dbf_version' => 0x8C) or die XBase::Memo->errstr;
for my $b (@blocks) {
  my $data = $memo->read_record($b);
  die "block $b unreadable\n" unless defined $data;
  print "$b:", unpack('H*', $data), "\n";
}
