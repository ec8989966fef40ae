SELECT is_root AS IsAdminRoot FROM administrators WHERE admin_id = %u
